#pragma once

#include <cstdint>
#include <filesystem>

#include "platform/SystemLog.h"

namespace kestrova {

// The activity log, ~/Documents/Kestrova/activity.log: standard error of every run. At launch a
// log above 30 MiB is deleted, a kept one receives three line feeds to separate the runs, and
// standard error is redirected into it. Errors of these file operations are ignored.
class ActivityLog {
public:
    static constexpr std::int64_t kMaximumSize = 31457280;  // 30 MiB

    explicit ActivityLog(std::filesystem::path applicationDirectory);

    // Launch steps: the folder, the size rule, the separator, the empty file, the redirection.
    void prepareAndRedirect(SystemLog& log) const;
    // At quit when the log is not to be kept.
    void removeIfPresent() const;
    const std::filesystem::path& path() const { return path_; }

private:
    void trimOrSeparate() const;

    std::filesystem::path directory_;
    std::filesystem::path path_;
};

}  // namespace kestrova
