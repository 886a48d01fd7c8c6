#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "platform/system/ProcessSpawn.h"

extern char** environ;

namespace kestrova::test {

namespace {

// A pseudo-terminal whose slave side the child writes to; answers the master's descriptor and
// the slave's path, or -1.
int openTerminal(std::string& slave) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return -1;
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname(master) == nullptr) {
        ::close(master);
        return -1;
    }
    slave = ::ptsname(master);
    return master;
}

// Copies what the child writes to its terminal into the output file until the child has gone.
void copyTerminal(int master, std::filesystem::path outputFile) {
    const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) break;  // EIO once no process has the terminal open any more
        if (out >= 0 && ::write(out, buffer, static_cast<std::size_t>(n)) < 0) break;
    }
    if (out >= 0) ::close(out);
}

}  // namespace

ChildProcess::ChildProcess(const std::filesystem::path& program,
                           const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment,
                           const std::filesystem::path& outputFile, Output output) {
    std::vector<std::string> argv{program.string()}, envp;
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    for (const auto& [k, v] : environment) envp.push_back(k + "=" + v);
    std::string slave;
    if (output == Output::Terminal) terminal_ = openTerminal(slave);
    ProcessSpawn spawn;
    if (terminal_ >= 0) {
        spawn.open(STDOUT_FILENO, slave, O_RDWR);
    } else {
        spawn.open(STDOUT_FILENO, outputFile, O_WRONLY | O_CREAT | O_APPEND);
    }
    spawn.duplicate(STDOUT_FILENO, STDERR_FILENO);
    spawn.open(STDIN_FILENO, "/dev/null", O_RDONLY);
    pid_ = spawn.start(program, argv, envp).value_or(-1);
    if (terminal_ >= 0) copier_ = std::thread(copyTerminal, terminal_, outputFile);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !exitCode_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    if (copier_.joinable()) copier_.join();
    if (terminal_ >= 0) ::close(terminal_);
}

void ChildProcess::signal(int signalNumber) const {
    if (pid_ > 0 && !exitCode_) ::kill(pid_, signalNumber);
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds deadline) {
    if (exitCode_ || pid_ <= 0) return exitCode_;
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            return exitCode_;
        }
        if (std::chrono::steady_clock::now() >= end) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::map<std::string, std::string> environmentWith(
    const std::map<std::string, std::string>& changes) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [k, v] : changes) env[k] = v;
    return env;
}

}  // namespace kestrova::test
