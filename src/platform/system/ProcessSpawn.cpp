#include "platform/system/ProcessSpawn.h"

#include <signal.h>

extern char** environ;

namespace kestrova {
namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

ProcessSpawn::ProcessSpawn() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attributes_);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes_, &none);
}

ProcessSpawn::~ProcessSpawn() {
    posix_spawnattr_destroy(&attributes_);
    posix_spawn_file_actions_destroy(&actions_);
}

void ProcessSpawn::open(int fd, const std::filesystem::path& path, int flags) {
    posix_spawn_file_actions_addopen(&actions_, fd, path.c_str(), flags, 0644);
}

void ProcessSpawn::duplicate(int from, int to) {
    posix_spawn_file_actions_adddup2(&actions_, from, to);
}

void ProcessSpawn::newSession() { flags_ |= POSIX_SPAWN_SETSID; }

std::optional<pid_t> ProcessSpawn::start(const std::filesystem::path& program,
                                         std::vector<std::string> arguments,
                                         std::optional<std::vector<std::string>> environment) {
    posix_spawnattr_setflags(&attributes_, flags_);
    const std::vector<char*> argv = pointers(arguments);
    const std::vector<char*> envp = environment ? pointers(*environment) : std::vector<char*>{};
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), &actions_, &attributes_, argv.data(),
                      environment ? envp.data() : environ) != 0) {
        return std::nullopt;
    }
    return pid;
}

}  // namespace kestrova
