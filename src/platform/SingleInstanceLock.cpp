#include "platform/SingleInstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kestrova {

namespace {

bool isUsableRuntimeDir(const char* dir) {
    struct stat st {};
    return dir != nullptr && *dir == '/' && ::stat(dir, &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder may be the /tmp fallback, which every user can create first: take it only when it
// is a folder of this user that nobody else can write to, so no one can plant a lock file or a
// symbolic link in it.
bool preparePrivateDir(const std::filesystem::path& dir, std::string& error) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 0022) != 0) {
        error = "not a folder of this user only";
        return false;
    }
    return true;
}

}  // namespace

SingleInstanceLock::SingleInstanceLock(std::filesystem::path path) : path_(std::move(path)) {
    acquire();
}

std::filesystem::path SingleInstanceLock::defaultPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (isUsableRuntimeDir(runtime)) return std::filesystem::path(runtime) / "kestrova.lock";
    return std::filesystem::path("/tmp") / ("kestrova-" + std::to_string(::getuid())) /
           "kestrova.lock";
}

void SingleInstanceLock::acquire() {
    const auto dir = path_.parent_path();
    if (!preparePrivateDir(dir, error_)) {
        error_ = dir.string() + ": " + error_;
        return;
    }
    fd_.reset(::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd_) {
        error_ = path_.string() + ": " + std::strerror(errno);
        return;
    }
    if (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            status_ = Status::AlreadyRunning;
        } else {
            error_ = path_.string() + ": " + std::strerror(errno);
        }
        fd_.reset();
        return;
    }
    // The holder's pid, for a person wondering which process it is; the lock is the flock.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd_.get(), 0) == 0) {
        [[maybe_unused]] const auto written = ::write(fd_.get(), pid.data(), pid.size());
    }
    status_ = Status::Held;
}

}  // namespace kestrova
