#include "app/HandOffClient.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

#include "app/HandOffMessage.h"
#include "platform/system/LocalSocket.h"
#include "platform/system/ProcessSpawn.h"

namespace kestrova {
namespace {

constexpr std::chrono::milliseconds kAnswerTime{10'000};
// A Kestrova started for the hand-off has this long to open its channel.
constexpr std::chrono::milliseconds kStartTime{20'000};

}  // namespace

HandOffClient::HandOffClient(std::filesystem::path socketPath, std::vector<std::string> launch)
    : socketPath_(std::move(socketPath)), launch_(std::move(launch)) {}

std::optional<std::string> HandOffClient::exchange(const std::string& request) const {
    const UniqueFd fd = LocalSocket::connect(socketPath_);
    if (!fd || !LocalSocket::writeAll(fd.get(), request, kAnswerTime)) return std::nullopt;
    ::shutdown(fd.get(), SHUT_WR);
    return LocalSocket::readAll(fd.get(), HandOffMessage::kMaxBytes * 16, kAnswerTime);
}

int HandOffClient::open(const std::vector<std::string>& addresses) const {
    const std::string request = HandOffMessage::open(addresses);
    if (request.size() > HandOffMessage::kMaxBytes ||
        addresses.size() > HandOffMessage::kMaxAddresses) {
        std::fprintf(stderr, "kestrova: at most %zu addresses and %zu bytes at once\n",
                     HandOffMessage::kMaxAddresses, HandOffMessage::kMaxBytes);
        return 1;
    }
    std::optional<std::string> answer = exchange(request);
    if (!answer && startInstance()) {
        const auto deadline = std::chrono::steady_clock::now() + kStartTime;
        while (!answer && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            answer = exchange(request);
        }
    }
    if (!answer) {
        std::fputs("kestrova: no running Kestrova could be reached or started\n", stderr);
        return 1;
    }
    if (answer->rfind("OK ", 0) == 0) return 0;
    std::fprintf(
        stderr, "kestrova: %s",
        answer->rfind("ERROR ", 0) == 0 ? answer->substr(6).c_str() : "unexpected answer\n");
    return 1;
}

int HandOffClient::printStatus() const {
    const std::optional<std::string> answer = exchange(HandOffMessage::status());
    if (!answer) {
        std::fputs("kestrova: not running\n", stderr);
        return 1;
    }
    std::fputs(answer->c_str(), stdout);
    return 0;
}

// Starts a Kestrova of its own, detached from this command: a session of its own, no terminal.
bool HandOffClient::startInstance() const {
    ProcessSpawn spawn;
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        spawn.open(fd, "/dev/null", O_RDWR);
    }
    spawn.newSession();
    return spawn.start("/proc/self/exe", launch_).has_value();
}

}  // namespace kestrova
