#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "support/TempDir.h"

namespace kestrova::test {

// A small file system of its own for one test: a tmpfs of the given size mounted on a fresh
// temporary folder, unmounted (with everything in it) when it goes. Mounting needs root and a
// sandbox that allows it; when it fails, mounted() is false and why() says what went wrong.
class TmpfsMount {
public:
    explicit TmpfsMount(std::size_t bytes);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }
    const std::filesystem::path& path() const { return folder_.path(); }

private:
    TempDir folder_;
    bool mounted_ = false;
    std::string why_;
};

}  // namespace kestrova::test
