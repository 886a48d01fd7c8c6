#include "platform/system/LocalSocket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kestrova {
namespace {

using Clock = std::chrono::steady_clock;

// A socket's address. A path longer than an address holds (a deep home folder) is reached
// through a descriptor of its folder, as "/proc/self/fd/N/name".
struct Address {
    sockaddr_un address{};
    UniqueFd folder;

    bool set(const std::filesystem::path& path) {
        address.sun_family = AF_UNIX;
        std::string text = path.string();
        if (!text.empty() && text.size() >= sizeof address.sun_path && path.has_parent_path()) {
            folder.reset(::open(path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (!folder) return false;
            text = "/proc/self/fd/" + std::to_string(folder.get()) + "/" + path.filename().string();
        }
        if (text.empty() || text.size() >= sizeof address.sun_path) return false;
        std::memcpy(address.sun_path, text.data(), text.size());
        return true;
    }
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&address); }
};

// Waits until fd is ready for events or the deadline passes.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
}

}  // namespace

UniqueFd LocalSocket::listen(const std::filesystem::path& path, std::string& error) {
    Address address;
    if (!address.set(path)) {
        error = "no socket address for " + path.string();
        return UniqueFd();
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ::unlink(path.c_str());
    // Created without permissions for anyone, then opened to this user only.
    const mode_t previous = ::umask(0177);
    const bool bound = fd && ::bind(fd.get(), address.get(), sizeof address.address) == 0;
    ::umask(previous);
    if (!bound || ::listen(fd.get(), 16) != 0) {
        error = path.string() + ": " + std::strerror(errno);
        return UniqueFd();
    }
    return fd;
}

UniqueFd LocalSocket::connect(const std::filesystem::path& path) {
    Address address;
    if (!address.set(path)) return UniqueFd();
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd || ::connect(fd.get(), address.get(), sizeof address.address) != 0) {
        return UniqueFd();
    }
    return fd;
}

std::optional<unsigned> LocalSocket::peerUser(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return std::nullopt;
    return static_cast<unsigned>(credentials.uid);
}

std::optional<std::string> LocalSocket::readAll(int fd, std::size_t maxBytes,
                                                std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::string text;
    char buffer[4096];
    for (;;) {
        if (!waitFor(fd, POLLIN, deadline)) return std::nullopt;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return text;
        if (text.size() + static_cast<std::size_t>(n) > maxBytes) return std::nullopt;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

bool LocalSocket::writeAll(int fd, const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::size_t done = 0;
    while (done < text.size()) {
        if (!waitFor(fd, POLLOUT, deadline)) return false;
        const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace kestrova
