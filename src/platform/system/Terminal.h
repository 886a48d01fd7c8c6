#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system/UniqueFd.h"

namespace kestrova {

// The terminal a headless Kestrova was started from: lines printed on it scroll as usual, and
// below them a few status lines (one per running download) are redrawn in place. Safe from any
// thread; each call writes whole lines at once.
class Terminal {
public:
    // The terminal on fd (a duplicate of standard error taken before it is redirected).
    explicit Terminal(UniqueFd fd) : fd_(std::move(fd)) {}
    // A duplicate of standard error when it is a terminal; nothing otherwise.
    static UniqueFd standardErrorIfTerminal();

    void printLine(std::string_view line);
    void setStatusLines(std::vector<std::string> lines);

private:
    // With mutex_ held: the status lines drawn now are erased / drawn again.
    std::string eraseStatus() const;
    std::string drawStatus() const;
    void write(const std::string& bytes) const;

    UniqueFd fd_;
    std::mutex mutex_;
    std::vector<std::string> status_;
};

}  // namespace kestrova
