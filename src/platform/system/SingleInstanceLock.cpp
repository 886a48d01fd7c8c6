#include "platform/system/SingleInstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kestrova {

namespace {

// The folder must belong to this user and be closed to the world, so that nobody else can plant
// a lock file or a symbolic link in it.
bool prepareFolder(const std::filesystem::path& dir, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(dir.parent_path(), ec);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 0002) != 0) {
        error = "not a folder of this user closed to others";
        return false;
    }
    return true;
}

}  // namespace

SingleInstanceLock::SingleInstanceLock(std::filesystem::path path) : path_(std::move(path)) {
    acquire();
}

std::filesystem::path SingleInstanceLock::defaultPath(
    const std::filesystem::path& configDirectory) {
    return configDirectory / "kestrova" / "kestrova.lock";
}

void SingleInstanceLock::acquire() {
    const auto dir = path_.parent_path();
    if (!prepareFolder(dir, error_)) {
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
