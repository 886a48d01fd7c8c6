#include "platform/system/Terminal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kestrova {

UniqueFd Terminal::standardErrorIfTerminal() {
    if (::isatty(STDERR_FILENO) != 1) return UniqueFd();
    return UniqueFd(::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3));
}

void Terminal::printLine(std::string_view line) {
    std::lock_guard lock(mutex_);
    write(eraseStatus() + std::string(line) + "\n" + drawStatus());
}

void Terminal::setStatusLines(std::vector<std::string> lines) {
    std::lock_guard lock(mutex_);
    std::string bytes = eraseStatus();
    status_ = std::move(lines);
    write(bytes + drawStatus());
}

// Back to the first status line, clearing everything below it.
std::string Terminal::eraseStatus() const {
    std::string bytes;
    for (std::size_t i = 0; i < status_.size(); ++i) bytes += "\x1b[1A";
    return bytes + (status_.empty() ? "" : "\r\x1b[J");
}

std::string Terminal::drawStatus() const {
    std::string bytes;
    for (const std::string& line : status_) bytes += line + "\x1b[K\n";
    return bytes;
}

void Terminal::write(const std::string& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a terminal gone away only loses its copy of the lines
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace kestrova
