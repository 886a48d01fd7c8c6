#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::test {

// A helper program for the desktop tests (a private D-Bus daemon, a fake desktop service) whose
// standard output the test reads line by line, e.g. for the address it prints or its "READY".
// Standard error stays the test's. The destructor ends the program (SIGTERM, then SIGKILL).
class SpawnedProcess {
public:
    explicit SpawnedProcess(const std::vector<std::string>& argv);
    ~SpawnedProcess();
    SpawnedProcess(const SpawnedProcess&) = delete;
    SpawnedProcess& operator=(const SpawnedProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // The next line of output without its line feed, or nothing at the deadline or at the end.
    std::optional<std::string> readLine(std::chrono::milliseconds deadline);
    void signal(int number) const;
    void stop();

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffer_;
};

}  // namespace kestrova::test
