#include "platform/Files.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace kestrova {
namespace fs = std::filesystem;

Files::Files(fs::path home, fs::path configHome)
    : home_(std::move(home)), configHome_(std::move(configHome)) {
    documents_ = userDirectory("XDG_DOCUMENTS_DIR", "Documents");
    downloads_ = userDirectory("XDG_DOWNLOAD_DIR", "Downloads");
}

Files Files::fromEnvironment() {
    fs::path home;
    if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0') {
        home = h;
    } else if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        home = pw->pw_dir;
    } else {
        home = "/";
    }
    fs::path config = home / ".config";
    // The XDG rules ignore relative values.
    if (const char* c = std::getenv("XDG_CONFIG_HOME"); c != nullptr && *c == '/') config = c;
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
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0;
}

bool Files::isDirectory(const fs::path& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Files::createDirectories(const fs::path& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    return !ec && isDirectory(path);
}

std::optional<std::int64_t> Files::fileSize(const fs::path& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return static_cast<std::int64_t>(st.st_size);
}

std::optional<std::uint64_t> Files::availableBytes(const fs::path& folder) {
    struct statvfs st{};
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

}  // namespace kestrova
