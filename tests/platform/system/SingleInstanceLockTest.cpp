#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "download/TestFiles.h"
#include "platform/system/SingleInstanceLock.h"
#include "support/TempDir.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;
using Status = SingleInstanceLock::Status;

// One holder at a time, named in the file for a person, in a folder it makes private; free again
// once let go. Neither a folder others may write to nor a link planted as the lock file is used.
TEST(SingleInstanceLock, OneHolderAtATimeInAPrivateFolderNeverASharedOneOrALink) {
    test::TempDir dir;
    const auto path = dir.path() / "kestrova-1000" / "kestrova.lock";
    fs::create_directory(dir.path() / "shared");
    fs::permissions(dir.path() / "shared", fs::perms::all);
    fs::create_symlink(dir.path() / "victim", dir.path() / "kestrova.lock");
    {
        const SingleInstanceLock first(path), second(path);
        const SingleInstanceLock shared(dir.path() / "shared" / "kestrova.lock");
        const SingleInstanceLock planted(dir.path() / "kestrova.lock");
        EXPECT_EQ(std::vector({first.status(), second.status(), shared.status(), planted.status()}),
                  std::vector({Status::Held, Status::AlreadyRunning, Status::Unavailable,
                               Status::Unavailable}));
        EXPECT_EQ(test::readFile(path), std::to_string(::getpid()) + "\n");
        EXPECT_EQ(fs::status(path.parent_path()).permissions(), fs::perms::owner_all);
    }
    EXPECT_EQ(SingleInstanceLock(path).status(), Status::Held);
    EXPECT_EQ(test::filesIn(dir.path() / "shared").size() + fs::exists(dir.path() / "victim"), 0u);
}

}  // namespace
}  // namespace kestrova
