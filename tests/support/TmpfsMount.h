#pragma once

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "support/TempDir.h"

namespace kestrova::test {

// A tmpfs of the given size on a fresh temporary folder, for a test that needs a full disk.
// Mounting needs root and a sandbox that allows it.
class TmpfsMount {
public:
    explicit TmpfsMount(std::size_t bytes) {
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
        if (::geteuid() != 0) {
            why_ = "mounting a tmpfs needs root";
        } else if (::mount("tmpfs", path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                           options.c_str()) != 0) {
            why_ = "mounting a tmpfs failed: " + std::generic_category().message(errno);
        }
    }
    // Lazy: a file in it may still be open.
    ~TmpfsMount() {
        if (mounted()) ::umount2(path().c_str(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool mounted() const { return why_.empty(); }
    const std::string& why() const { return why_; }
    const std::filesystem::path& path() const { return folder_.path(); }

private:
    TempDir folder_;
    std::string why_;
};

}  // namespace kestrova::test
