#pragma once

#include <spawn.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrova {

// Starts a program as a child process: its descriptors opened or copied as asked, no signal
// blocked whatever this process blocks, optionally in a session of its own. Owns the spawn
// attributes and file actions it collects.
class ProcessSpawn {
public:
    ProcessSpawn();
    ~ProcessSpawn();
    ProcessSpawn(const ProcessSpawn&) = delete;
    ProcessSpawn& operator=(const ProcessSpawn&) = delete;

    // The child's descriptor fd is path opened with flags (O_CREAT files get mode 0644).
    void open(int fd, const std::filesystem::path& path, int flags);
    void duplicate(int from, int to);  // the child's `to` is a copy of its `from`
    void newSession();
    // Starts program with arguments (the first is its name) and the environment given as
    // "NAME=value" entries, or this process's one; the child's pid, or nothing.
    std::optional<pid_t> start(const std::filesystem::path& program,
                               std::vector<std::string> arguments,
                               std::optional<std::vector<std::string>> environment = {});

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
    short flags_ = POSIX_SPAWN_SETSIGMASK;
};

}  // namespace kestrova
