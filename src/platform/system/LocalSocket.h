#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/system/UniqueFd.h"

namespace kestrova {

// The few operations on UNIX-domain stream sockets the hand-off channel needs, with bounded waits.
class LocalSocket {
public:
    // A socket listening at path (a stale one there is replaced), readable and writable by this
    // user only; invalid, with the reason in error, when it cannot be made.
    static UniqueFd listen(const std::filesystem::path& path, std::string& error);
    // A connection to path; invalid when nothing listens there.
    static UniqueFd connect(const std::filesystem::path& path);
    // The user id of the process at the other end, or nothing.
    static std::optional<unsigned> peerUser(int fd);
    // Reads until the peer stops writing, at most maxBytes, for at most timeout; nothing when
    // the peer sent more, went silent or the read failed.
    static std::optional<std::string> readAll(int fd, std::size_t maxBytes,
                                              std::chrono::milliseconds timeout);
    // Writes all of text within timeout.
    static bool writeAll(int fd, const std::string& text, std::chrono::milliseconds timeout);
};

}  // namespace kestrova
