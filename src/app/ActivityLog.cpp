#include "app/ActivityLog.h"

#include <unistd.h>

#include "platform/system/Files.h"
#include "platform/system/UniqueFd.h"
#include "platform/text/TextUtil.h"

namespace kestrova {

ActivityLog::ActivityLog(std::filesystem::path applicationDirectory)
    : directory_(std::move(applicationDirectory)), path_(directory_ / "activity.log") {}

void ActivityLog::prepareAndRedirect(SystemLog& log) {
    if (!Files::exists(directory_)) Files::createDirectories(directory_);
    if (!Files::isRegularOrAbsent(path_)) {
        // Whatever it points to is not ours to append to, create or delete.
        log.log("ActivityLog -> Not a regular file, running without the activity log: " +
                TextUtil::forLog(path_.string()));
        return;
    }
    if (Files::exists(path_)) trimOrSeparate();
    inUse_ = log.redirectToFile(path_);
}

void ActivityLog::applySizeRule(SystemLog& log) {
    if (!inUse_) return;
    const auto size = Files::fileSize(path_);
    if (!size || *size <= kMaximumSize || !Files::isRegularOrAbsent(path_)) return;
    Files::remove(path_);
    inUse_ = log.redirectToFile(path_);
    log.log("ActivityLog -> Started anew: the log was over 30 MiB.");
}

// Deletes a log above the limit or separates this run from the last one with three line feeds.
void ActivityLog::trimOrSeparate() const {
    const auto size = Files::fileSize(path_);
    if (size && *size > kMaximumSize) {
        Files::remove(path_);
        return;
    }
    const UniqueFd fd = Files::openRegularForAppend(path_);
    if (!fd) return;  // an unwritable log only loses its separator
    static constexpr char kSeparator[] = "\n\n\n";
    if (::write(fd.get(), kSeparator, 3) == 3) ::fsync(fd.get());
}

void ActivityLog::removeIfPresent() const {
    if (inUse_ && Files::isRegularOrAbsent(path_)) Files::remove(path_);
}

}  // namespace kestrova
