#pragma once

#include <filesystem>
#include <string>

#include "platform/UniqueFd.h"

namespace kestrova {

// Keeps a second Kestrova of the same user from starting: an exclusive flock(2) on a file in the
// user's runtime folder, held for as long as this object lives (the kernel drops it when the
// process ends, however it ends).
//
//   SingleInstanceLock lock(SingleInstanceLock::defaultPath());
//   if (lock.status() == SingleInstanceLock::Status::AlreadyRunning) ... exit
class SingleInstanceLock {
public:
    enum class Status {
        Held,            // this process is the one
        AlreadyRunning,  // another process holds the lock
        Unavailable,     // the lock file could not be made; error() says why
    };

    explicit SingleInstanceLock(std::filesystem::path path);

    // $XDG_RUNTIME_DIR/kestrova.lock, or /tmp/kestrova-<uid>/kestrova.lock when the runtime
    // folder is not set (the folder is created private to the user).
    static std::filesystem::path defaultPath();

    Status status() const { return status_; }
    const std::string& error() const { return error_; }
    const std::filesystem::path& path() const { return path_; }

private:
    void acquire();

    std::filesystem::path path_;
    UniqueFd fd_;
    Status status_ = Status::Unavailable;
    std::string error_;
};

}  // namespace kestrova
