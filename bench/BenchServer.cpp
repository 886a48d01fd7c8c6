#include "BenchServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <thread>

namespace kestrova::bench {
namespace {

constexpr std::size_t kDataSize = 4 * 1024 * 1024;
constexpr std::size_t kSendSlice = 1024 * 1024;

bool sendAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t sent = ::send(fd, data, length, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        data += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return true;
}

// The body size: the digits of the request path's last component.
std::uint64_t requestedSize(std::string_view request) {
    const std::size_t space = request.find(' ');
    const std::size_t end = request.find(' ', space + 1);
    if (space == std::string_view::npos || end == std::string_view::npos) return 0;
    std::string_view path = request.substr(space + 1, end - space - 1);
    path = path.substr(0, path.find('?'));
    path = path.substr(path.rfind('/') + 1);
    std::uint64_t size = 0;
    for (const char c : path) {
        if (c < '0' || c > '9') return 0;
        size = size * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return size;
}

}  // namespace

BenchServer::BenchServer() : data_(kDataSize, '\0') {
    std::uint32_t state = 12345;
    for (char& c : data_) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    listener_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!listener_ ||
        ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_.get(), 256) != 0 ||
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    port_ = ntohs(address.sin_port);
}

void BenchServer::run() {
    for (;;) {
        const int fd = ::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::thread([this, fd] { serve(UniqueFd(fd)); }).detach();
    }
}

void BenchServer::serve(UniqueFd connection) const {
    std::string request;
    char buffer[8192];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        const ssize_t got = ::recv(connection.get(), buffer, sizeof buffer, 0);
        if (got <= 0) return;
        request.append(buffer, static_cast<std::size_t>(got));
    }
    const std::uint64_t size = requestedSize(request);
    const bool head = request.rfind("HEAD ", 0) == 0;
    const std::string header =
        "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
        "Content-Length: " +
        std::to_string(size) + "\r\nConnection: close\r\n\r\n";
    if (!sendAll(connection.get(), header.data(), header.size()) || head) return;
    std::uint64_t left = size;
    std::size_t offset = 0;
    while (left > 0) {
        const std::size_t slice =
            static_cast<std::size_t>(std::min<std::uint64_t>(left, kSendSlice));
        const std::size_t piece = std::min(slice, data_.size() - offset);
        if (!sendAll(connection.get(), data_.data() + offset, piece)) return;
        offset = (offset + piece) % data_.size();
        left -= piece;
    }
    ::shutdown(connection.get(), SHUT_WR);
}

}  // namespace kestrova::bench
