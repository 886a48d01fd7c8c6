#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
        struct stat st {};
        ASSERT_EQ(::stat(path.parent_path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
    EXPECT_EQ(SingleInstanceLock(path).status(), Status::Held);
}

// Neither a folder others may write to nor a link planted as the lock file is used.
TEST(SingleInstanceLockTest, RefusesASharedFolderAndAPlantedLink) {
    test::TempDir dir;
    fs::create_directory(dir.path() / "shared");
    ::chmod((dir.path() / "shared").c_str(), 0777);
    const SingleInstanceLock shared(dir.path() / "shared" / "kestrova.lock");
    EXPECT_EQ(shared.status(), Status::Unavailable);
    EXPECT_FALSE(shared.error().empty());
    EXPECT_FALSE(fs::exists(dir.path() / "shared" / "kestrova.lock"));
    fs::create_symlink(dir.path() / "victim", dir.path() / "kestrova.lock");
    EXPECT_EQ(SingleInstanceLock(dir.path() / "kestrova.lock").status(), Status::Unavailable);
    EXPECT_FALSE(fs::exists(dir.path() / "victim"));
}

}  // namespace
}  // namespace kestrova
