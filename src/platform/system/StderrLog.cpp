#include "platform/system/StderrLog.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "platform/system/Files.h"
#include "platform/system/Terminal.h"
#include "platform/system/UniqueFd.h"
#include "platform/text/TextUtil.h"

namespace kestrova {

std::string StderrLog::formatLine(std::string_view message) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[64];
    const std::size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char prefix[160];
    std::snprintf(prefix, sizeof prefix, "%.*s.%03lld kestrova[%ld:%ld] ", static_cast<int>(n),
                  stamp, static_cast<long long>(millis), static_cast<long>(getpid()),
                  static_cast<long>(syscall(SYS_gettid)));
    std::string line(prefix);
    line.append(message);
    return line;
}

void StderrLog::log(std::string_view message) {
    // Whatever a message holds, it stays one line: a value with a line feed cannot forge the
    // lines after it.
    std::string line = formatLine(TextUtil::escapeControls(message));
    line.push_back('\n');
    // One write keeps the line whole; only a signal interruption is retried.
    ssize_t written;
    do {
        written = ::write(STDERR_FILENO, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    if (terminal_ != nullptr && redirected_) {
        line.pop_back();
        terminal_->printLine(line);
    }
}

}  // namespace kestrova

namespace kestrova {

bool StderrLog::redirectToFile(const std::filesystem::path& path) {
    UniqueFd fd = Files::openRegularForAppend(path);
    const bool ok = fd && ::dup2(fd.get(), STDERR_FILENO) >= 0;
    if (ok) redirected_ = true;
    return ok;
}

}  // namespace kestrova
