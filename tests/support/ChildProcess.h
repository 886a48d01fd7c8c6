#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kestrova::test {

// Runs a program (e.g. the kestrova binary) as a child process with a chosen environment, its
// standard output and error going to a file, directly or through a pseudo-terminal (the child
// then sees a terminal). The destructor kills a child still running.
class ChildProcess {
public:
    enum class Output { File, Terminal };

    ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment,
                 const std::filesystem::path& outputFile, Output output = Output::File);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    void signal(int signalNumber) const;
    // The exit code once the child has exited within the deadline; -signal when a signal ended
    // it; nothing when it is still running.
    std::optional<int> waitForExit(std::chrono::milliseconds deadline);

private:
    pid_t pid_ = -1;
    int terminal_ = -1;  // the pseudo-terminal's master side, read by copier_
    std::thread copier_;
    std::optional<int> exitCode_;
};

// The environment of this process with the given entries replaced or added.
std::map<std::string, std::string> environmentWith(
    const std::map<std::string, std::string>& changes);

}  // namespace kestrova::test
