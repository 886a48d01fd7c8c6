#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "download/TestFiles.h"
#include "platform/system/SingleInstanceLock.h"
#include "support/TempDir.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;
using Status = SingleInstanceLock::Status;

// One holder at a time, named in the file, in a folder it makes private; free again once let
// go.
TEST(SingleInstanceLockTest, OneHolderAtATimeInAPrivateFolder) {
    test::TempDir dir;
    const auto path = dir.path() / "kestrova-1000" / "kestrova.lock";
    {
        SingleInstanceLock first(path);
        ASSERT_EQ(first.status(), Status::Held) << first.error();
        EXPECT_EQ(SingleInstanceLock(path).status(), Status::AlreadyRunning);
        EXPECT_EQ(test::readFile(path), std::to_string(::getpid()) + "\n");  // for a person
        EXPECT_EQ(fs::status(path.parent_path()).permissions(), fs::perms::owner_all);
    }
    EXPECT_EQ(SingleInstanceLock(path).status(), Status::Held);
}

// Neither a folder others may write to nor a link planted as the lock file is used.
TEST(SingleInstanceLockTest, RefusesASharedFolderAndAPlantedLink) {
    test::TempDir dir;
    fs::create_directory(dir.path() / "shared");
    ::chmod((dir.path() / "shared").c_str(), 0777);
    const SingleInstanceLock shared(dir.path() / "shared" / "kestrova.lock");
    fs::create_symlink(dir.path() / "victim", dir.path() / "kestrova.lock");
    const SingleInstanceLock planted(dir.path() / "kestrova.lock");
    EXPECT_EQ(std::vector({shared.status(), planted.status()}),
              std::vector({Status::Unavailable, Status::Unavailable}));
    EXPECT_FALSE(shared.error().empty());
    EXPECT_EQ(test::filesIn(dir.path() / "shared").size() + fs::exists(dir.path() / "victim"), 0u);
}

}  // namespace
}  // namespace kestrova
