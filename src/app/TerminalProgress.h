#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "platform/plist/PlistValue.h"

namespace kestrova {

class NotificationCenter;
class Terminal;

// The downloads' progress on the terminal a headless Kestrova runs on, the way command-line
// downloaders show it: one line per running download (name, percent or amount, speed), redrawn
// in place and never written to the activity log. Observes "downloadProgress" from its creation
// until it goes; safe from the operations' threads.
class TerminalProgress {
public:
    TerminalProgress(NotificationCenter& center, Terminal& terminal);
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    void update(const PlistValue& progress);

private:
    struct Running {
        std::int64_t received = 0;
        std::int64_t expected = -1;
        double bytesPerSecond = 0;
        std::chrono::steady_clock::time_point at{};
    };

    void redraw();

    NotificationCenter& center_;
    Terminal& terminal_;
    std::mutex mutex_;
    std::map<std::string, Running> running_;  // by name, in name order
};

}  // namespace kestrova
