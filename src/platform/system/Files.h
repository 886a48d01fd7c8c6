#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/system/UniqueFd.h"

namespace kestrova {

// The user's folders and the few file operations Kestrova needs. Every operation returns whether
// it worked instead of throwing; callers ignore the answer where failures do not matter.
//
// The Documents and Downloads folders are the XDG user folders read from
// $XDG_CONFIG_HOME/user-dirs.dirs (localized names honoured), ~/Documents and ~/Downloads when
// that file does not name them.
class Files {
public:
    Files(std::filesystem::path home, std::filesystem::path configHome);
    // $HOME (or the password database) and $XDG_CONFIG_HOME (or ~/.config).
    static Files fromEnvironment();

    const std::filesystem::path& homeDirectory() const { return home_; }
    const std::filesystem::path& configDirectory() const { return configHome_; }
    const std::filesystem::path& documentsDirectory() const { return documents_; }
    const std::filesystem::path& downloadsDirectory() const { return downloads_; }
    // ~/Documents/Kestrova: the activity log and the automatic downloads.
    std::filesystem::path applicationDirectory() const { return documents_ / "Kestrova"; }

    static bool exists(const std::filesystem::path& path);
    static bool isDirectory(const std::filesystem::path& path);
    static bool createDirectories(const std::filesystem::path& path);
    static std::optional<std::int64_t> fileSize(const std::filesystem::path& path);
    // The bytes an unprivileged process may still write into the file system holding folder;
    // nothing when it cannot be read (the folder does not exist, for one).
    static std::optional<std::uint64_t> availableBytes(const std::filesystem::path& folder);
    static bool remove(const std::filesystem::path& path);
    // Renames; fails rather than replace an existing destination.
    static bool move(const std::filesystem::path& from, const std::filesystem::path& to);

    // Files Kestrova keeps on its own (activity log, settings) are only ever regular files:
    // a symbolic link, a folder or a pipe in their place is never followed or opened.
    struct ReadResult {
        std::optional<std::string> bytes;  // the whole content, when it could be read
        int error = 0;  // otherwise: ENOENT, EACCES, ELOOP (a link), EISDIR, EFBIG (too large)...
    };
    static ReadResult readRegularFile(const std::filesystem::path& path, std::size_t maxBytes);
    // Opens (creating it when absent) a regular file for appending; an invalid descriptor,
    // with errno set, when the path is a link or anything but a regular file.
    static UniqueFd openRegularForAppend(const std::filesystem::path& path);
    // Whether nothing, or a regular file (not a link to one), is at path.
    static bool isRegularOrAbsent(const std::filesystem::path& path);
    // Replaces path's content at once: a new file beside it (mode 0600, never an existing one),
    // then a rename over it, so a crash leaves the old or the new content. durable also waits
    // for both to reach the disk (fsync), which a power cut needs and a crash does not.
    static bool replaceAtomically(const std::filesystem::path& path, std::string_view bytes,
                                  bool durable);
    // Moves an unusable file aside as "<path>.corrupt-<local time>" (numbered when taken) rather
    // than have it overwritten; the new path, or nothing when it could not be moved.
    static std::optional<std::filesystem::path> moveAside(const std::filesystem::path& path);
    // The inode number of the regular file at path (a link is not followed); 0 when none.
    static std::uint64_t inode(const std::filesystem::path& path);
    // Records where a downloaded file came from, as browsers and wget do (the extended
    // attribute user.xdg.origin.url); a file system without user attributes is skipped quietly.
    static void setOrigin(const std::filesystem::path& path, const std::string& url);
    // Removes the regular files directly in folder whose names end in suffix, but those named
    // in keep; answers their names.
    static std::vector<std::string> removeFilesEndingWith(
        const std::filesystem::path& folder, std::string_view suffix,
        const std::vector<std::string>& keep = {});

private:
    std::filesystem::path userDirectory(const char* key, const char* fallback) const;

    std::filesystem::path home_;
    std::filesystem::path configHome_;
    std::filesystem::path documents_;
    std::filesystem::path downloads_;
};

}  // namespace kestrova
