#include "app/ActivityLog.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/Files.h"
#include "platform/UniqueFd.h"

namespace kestrova {

ActivityLog::ActivityLog(std::filesystem::path applicationDirectory)
    : directory_(std::move(applicationDirectory)), path_(directory_ / "activity.log") {}

void ActivityLog::prepareAndRedirect(SystemLog& log) const {
    if (!Files::exists(directory_)) Files::createDirectories(directory_);
    if (Files::exists(path_)) trimOrSeparate();
    if (!Files::exists(path_)) {
        UniqueFd created(::open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    }
    log.redirectToFile(path_);
}

void ActivityLog::trimOrSeparate() const {
    const auto size = Files::fileSize(path_);
    if (size && *size > kMaximumSize) {
        Files::remove(path_);
        return;
    }
    UniqueFd fd(::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (!fd) return;  // an unwritable log only loses its separator
    static constexpr char kSeparator[] = "\n\n\n";
    if (::write(fd.get(), kSeparator, 3) == 3) ::fsync(fd.get());
}

void ActivityLog::removeIfPresent() const {
    if (Files::exists(path_)) Files::remove(path_);
}

}  // namespace kestrova
