#pragma once

#include <cstdint>
#include <filesystem>

#include "platform/SystemLog.h"

namespace kestrova {

// The activity log, ~/Documents/Kestrova/activity.log: standard error of every run. At launch a
// log above 30 MiB is deleted, a kept one receives three line feeds to separate the runs, and
// standard error is redirected into it; the same size rule is applied again before each scan so
// that a process running for months keeps it bounded. The log is only ever a regular file: a
// symbolic link (or anything else) in its place is refused with a line on the terminal, and the
// program goes on without the log. Other errors of these file operations are ignored.
class ActivityLog {
public:
    static constexpr std::int64_t kMaximumSize = 31457280;  // 30 MiB

    explicit ActivityLog(std::filesystem::path applicationDirectory);

    // Launch steps: the folder, the size rule, the separator, the empty file, the redirection.
    void prepareAndRedirect(SystemLog& log);
    // While running: a log above the limit is started anew.
    void applySizeRule(SystemLog& log);
    // At quit when the log is not to be kept.
    void removeIfPresent() const;
    const std::filesystem::path& path() const { return path_; }

private:
    void trimOrSeparate() const;

    std::filesystem::path directory_;
    std::filesystem::path path_;
    bool inUse_ = false;  // standard error goes into path_
};

}  // namespace kestrova
