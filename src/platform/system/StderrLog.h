#pragma once

#include <atomic>
#include <string>

#include "platform/SystemLog.h"

namespace kestrova {

class Terminal;

// Writes log lines to standard error (file descriptor 2), which the application redirects into
// the activity log. Each line is one write(2), so lines from many threads never interleave:
//   2026-12-06 08:05:56.123 kestrova[4242:4250] AutoDownloadSystem -> Start Analyze.
// Given a terminal, every line that went into the log file is shown there too.
class StderrLog : public SystemLog {
public:
    StderrLog() = default;
    explicit StderrLog(Terminal* terminal) : terminal_(terminal) {}

    void log(std::string_view message) override;
    // Reopens standard error onto the file in append mode, so that everything the process
    // writes to it, not only log lines, lands in the activity log.
    bool redirectToFile(const std::filesystem::path& path) override;
    // The line as written, without the trailing line feed; exposed for its format.
    static std::string formatLine(std::string_view message);

private:
    Terminal* const terminal_ = nullptr;
    std::atomic<bool> redirected_{false};  // standard error is the log file, not the terminal
};

}  // namespace kestrova
