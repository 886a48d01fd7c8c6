#include "platform/system/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>

#include "platform/system/Environment.h"

namespace kestrova {
namespace fs = std::filesystem;

Files::Files(fs::path home, fs::path configHome)
    : home_(std::move(home)), configHome_(std::move(configHome)) {
    documents_ = userDirectory("XDG_DOCUMENTS_DIR", "Documents");
    downloads_ = userDirectory("XDG_DOWNLOAD_DIR", "Downloads");
}

Files Files::fromEnvironment() {
    fs::path home;
    if (const auto h = Environment::value("HOME")) {
        home = *h;
    } else if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        home = pw->pw_dir;
    } else {
        home = "/";
    }
    fs::path config = home / ".config";
    // The XDG rules ignore relative values.
    if (const auto c = Environment::value("XDG_CONFIG_HOME"); c && c->front() == '/') config = *c;
    return Files(home, config);
}

// Reads one entry of user-dirs.dirs, a shell fragment of lines like
//   XDG_DOWNLOAD_DIR="$HOME/ダウンロード"
// Only "$HOME/..." and absolute paths are valid values.
fs::path Files::userDirectory(const char* key, const char* fallback) const {
    std::ifstream in(configHome_ / "user-dirs.dirs");
    std::string line;
    const std::string prefix = std::string(key) + "=";
    while (std::getline(in, line)) {
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        std::string value = line.substr(prefix.size());
        if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
        value = value.substr(1, value.size() - 2);
        std::string unescaped;
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) ++i;
            unescaped.push_back(value[i]);
        }
        if (unescaped.rfind("$HOME", 0) == 0) {
            std::string rest = unescaped.substr(5);
            if (rest.empty() || rest == "/") continue;  // $HOME itself means "disabled"
            if (rest.front() != '/') continue;
            return home_ / rest.substr(1);
        }
        if (!unescaped.empty() && unescaped.front() == '/') return unescaped;
    }
    return home_ / fallback;
}

bool Files::exists(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool Files::isDirectory(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Files::createDirectories(const fs::path& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    return !ec && isDirectory(path);
}

std::optional<std::int64_t> Files::fileSize(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return static_cast<std::int64_t>(st.st_size);
}

std::optional<std::uint64_t> Files::availableBytes(const fs::path& folder) {
    struct statvfs st {};
    if (::statvfs(folder.c_str(), &st) != 0) return std::nullopt;
    // f_bavail leaves out the blocks kept for root, which a download cannot count on.
    return static_cast<std::uint64_t>(st.f_bavail) * static_cast<std::uint64_t>(st.f_frsize);
}

bool Files::remove(const fs::path& path) { return ::unlink(path.c_str()) == 0; }

bool Files::move(const fs::path& from, const fs::path& to) {
    // renameat2(RENAME_NOREPLACE) refuses an existing destination atomically; where the file
    // system lacks it, a hard link followed by unlink gives the same guarantee.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno == EEXIST) return false;
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

namespace {

// Opens path without following a link and without blocking on a pipe; refuses all but
// regular files.
UniqueFd openRegular(const fs::path& path, int flags, mode_t mode = 0) {
    UniqueFd fd(::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode));
    if (!fd) return fd;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return UniqueFd();
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return UniqueFd();
    }
    return fd;
}

}  // namespace

Files::ReadResult Files::readRegularFile(const fs::path& path, std::size_t maxBytes) {
    ReadResult result;
    const UniqueFd fd = openRegular(path, O_RDONLY);
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) {
        result.error = errno;
        return result;
    }
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        result.error = EFBIG;
        return result;
    }
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t done = 0;
    for (;;) {
        // One byte more than the size said, to notice a file that grew meanwhile.
        if (done == bytes.size()) bytes.resize(std::min(done + 4096, maxBytes + 1));
        const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result.error = errno;
            return result;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
        if (done > maxBytes) {
            result.error = EFBIG;
            return result;
        }
    }
    bytes.resize(done);
    result.bytes = std::move(bytes);
    return result;
}

UniqueFd Files::openRegularForAppend(const fs::path& path) {
    return openRegular(path, O_RDWR | O_APPEND | O_CREAT, 0644);
}

void Files::setOrigin(const fs::path& path, const std::string& url) {
    ::setxattr(path.c_str(), "user.xdg.origin.url", url.data(), url.size(), 0);
}

bool Files::isRegularOrAbsent(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    return S_ISREG(st.st_mode);
}

std::vector<std::string> Files::removeFilesEndingWith(const fs::path& folder,
                                                      std::string_view suffix,
                                                      const std::vector<std::string>& keep) {
    std::vector<std::string> removed;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir) return removed;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name(entry->d_name);
        if (name.size() <= suffix.size() || name.substr(name.size() - suffix.size()) != suffix) {
            continue;
        }
        if (std::find(keep.begin(), keep.end(), name) != keep.end()) continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode)) {
            continue;
        }
        if (::unlinkat(::dirfd(dir.get()), entry->d_name, 0) == 0) removed.emplace_back(name);
    }
    return removed;
}

bool Files::replaceAtomically(const fs::path& path, std::string_view bytes, bool durable) {
    createDirectories(path.parent_path());
    fs::path temporary = path;
    temporary += ".tmp-" + std::to_string(::getpid());
    {
        // Created afresh: a file or link left under this name by another run is not reused.
        remove(temporary);
        UniqueFd fd(
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd) return false;
        bool written = true;
        for (std::size_t done = 0; written && done < bytes.size();) {
            const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            written = n > 0;
            if (written) done += static_cast<std::size_t>(n);
        }
        if (!written || (durable && ::fsync(fd.get()) != 0) || !fd.close()) {
            remove(temporary);
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        remove(temporary);
        return false;
    }
    if (durable) {
        // Make the rename itself durable.
        UniqueFd dir(::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir) ::fsync(dir.get());
    }
    return true;
}

std::optional<fs::path> Files::moveAside(const fs::path& path) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    fs::path aside = path;
    aside += std::string(".corrupt-") + stamp;
    for (int n = 1; exists(aside); ++n) {
        aside = path;
        aside += std::string(".corrupt-") + stamp + "-" + std::to_string(n);
    }
    if (!move(path, aside)) return std::nullopt;
    return aside;
}

std::uint64_t Files::inode(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    return static_cast<std::uint64_t>(st.st_ino);
}

}  // namespace kestrova
