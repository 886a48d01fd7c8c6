#pragma once

#include <filesystem>
#include <string>

#include "platform/system/UniqueFd.h"

namespace kestrova {

// Keeps a second Kestrova on the same settings from starting: an exclusive flock(2) on a file
// beside the settings, held for as long as this object lives (the kernel drops it when the
// process ends, however it ends). One settings folder means one running Kestrova, whatever
// runtime folder or session each was started from.
//
//   SingleInstanceLock lock(SingleInstanceLock::defaultPath(files.configDirectory()));
//   if (lock.status() == SingleInstanceLock::Status::AlreadyRunning) ... exit
class SingleInstanceLock {
public:
    enum class Status {
        Held,            // this process is the one
        AlreadyRunning,  // another process holds the lock
        Unavailable,     // the lock file could not be made; error() says why
    };

    explicit SingleInstanceLock(std::filesystem::path path);

    // <configDirectory>/kestrova/kestrova.lock, beside defaults.plist.
    static std::filesystem::path defaultPath(const std::filesystem::path& configDirectory);

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
