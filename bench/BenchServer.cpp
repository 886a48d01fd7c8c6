#include "BenchServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

namespace kestrova::bench {
namespace {

constexpr std::size_t kDataSize = 4 * 1024 * 1024;
constexpr std::size_t kSendSlice = 1024 * 1024;
// A capped connection sends this much at a time, on its schedule.
constexpr std::size_t kPacedSlice = 16 * 1024;

// Sends what it can; answers how much went out.
std::size_t sendAll(int fd, const char* data, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t sent = ::send(fd, data + done, length - done, MSG_NOSIGNAL);
        if (sent <= 0) break;
        done += static_cast<std::size_t>(sent);
    }
    return done;
}

// The request path without its query.
std::string_view requestPath(std::string_view request) {
    const std::size_t space = request.find(' ');
    const std::size_t end = request.find(' ', space + 1);
    if (space == std::string_view::npos || end == std::string_view::npos) return {};
    const std::string_view path = request.substr(space + 1, end - space - 1);
    return path.substr(0, path.find('?'));
}

// The body size: the digits of the request path's last component.
std::uint64_t requestedSize(std::string_view path) {
    path = path.substr(path.rfind('/') + 1);
    std::uint64_t size = 0;
    for (const char c : path) {
        if (c < '0' || c > '9') return 0;
        size = size * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return size;
}

// The asked range [begin, end) of a body of size bytes; nothing when none (or none that fits).
std::optional<std::pair<std::uint64_t, std::uint64_t>> requestedRange(std::string request,
                                                                      std::uint64_t size) {
    std::transform(request.begin(), request.end(), request.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::size_t at = request.find("\r\nrange: bytes=");
    if (at == std::string::npos) return std::nullopt;
    char* rest = nullptr;
    const char* text = request.c_str() + at + 15;
    const std::uint64_t begin = std::strtoull(text, &rest, 10);
    if (rest == text || *rest != '-' || begin >= size) return std::nullopt;
    const char* last = rest + 1;
    std::uint64_t end = std::strtoull(last, &rest, 10) + 1;
    if (rest == last) end = size;
    if (end <= begin) return std::nullopt;
    return std::pair{begin, std::min(end, size)};
}

}  // namespace

const std::string& BenchServer::pattern() {
    static const std::string data = [] {
        std::string bytes(kDataSize, '\0');
        std::uint32_t state = 12345;
        for (char& c : bytes) {
            state = state * 1664525u + 1013904223u;
            c = static_cast<char>(state >> 24);
        }
        return bytes;
    }();
    return data;
}

BenchServer::BenchServer(double capPerConnection, double link)
    : cap_(capPerConnection), link_(link > 0 ? std::make_unique<Link>(link) : nullptr) {
    pattern();
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

void BenchServer::serve(UniqueFd connection) {
    std::string request;
    char buffer[8192];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        const ssize_t got = ::recv(connection.get(), buffer, sizeof buffer, 0);
        if (got <= 0) return;
        request.append(buffer, static_cast<std::size_t>(got));
    }
    const std::string_view path = requestPath(request);
    if (path == "/stats") {
        const std::string count = std::to_string(sent_.load());
        const std::string reply =
            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(count.size()) +
            "\r\nConnection: close\r\n\r\n" + count;
        sendAll(connection.get(), reply.data(), reply.size());
        return;
    }
    const std::uint64_t size = requestedSize(path);
    const auto range = requestedRange(request, size);
    const std::uint64_t begin = range ? range->first : 0, end = range ? range->second : size;
    const bool head = request.rfind("HEAD ", 0) == 0;
    std::string header = range ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " +
                                     std::to_string(begin) + "-" + std::to_string(end - 1) + "/" +
                                     std::to_string(size) + "\r\n"
                               : "HTTP/1.1 200 OK\r\n";
    header += "Content-Type: application/octet-stream\r\nAccept-Ranges: bytes\r\nETag: \"bench-" +
              std::to_string(size) + "\"\r\nContent-Length: " + std::to_string(end - begin) +
              "\r\nConnection: close\r\n\r\n";
    if (sendAll(connection.get(), header.data(), header.size()) < header.size() || head) return;
    const bool paced = cap_ > 0 || link_;
    const auto started = std::chrono::steady_clock::now();
    std::uint64_t offset = begin, done = 0;
    while (offset < end) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(
            {end - offset, paced ? kPacedSlice : kSendSlice, kDataSize - offset % kDataSize}));
        if (cap_ > 0) {
            std::this_thread::sleep_until(
                started + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(static_cast<double>(done) / cap_)));
        }
        if (link_) link_->take(piece);
        const std::size_t sent =
            sendAll(connection.get(), pattern().data() + offset % kDataSize, piece);
        sent_ += sent;
        if (sent < piece) return;
        offset += piece;
        done += piece;
    }
    ::shutdown(connection.get(), SHUT_WR);
}

}  // namespace kestrova::bench
