#include "support/TmpfsMount.h"

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace kestrova::test {

TmpfsMount::TmpfsMount(std::size_t bytes) {
    if (::geteuid() != 0) {
        why_ = "mounting a tmpfs needs root";
        return;
    }
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tmpfs", path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        why_ = "mounting a tmpfs failed: " + std::generic_category().message(errno);
        return;
    }
    mounted_ = true;
}

// A lazy unmount: the folder is let go even should a file in it still be open.
TmpfsMount::~TmpfsMount() {
    if (mounted_) ::umount2(path().c_str(), MNT_DETACH);
}

}  // namespace kestrova::test
