#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/system/SingleInstanceLock.h"
#include "support/TempDir.h"

namespace kestrova {
namespace {

using Status = SingleInstanceLock::Status;

TEST(SingleInstanceLockTest, OneHolderAtATime) {
    test::TempDir dir;
    const auto path = dir.path() / "kestrova.lock";
    {
        SingleInstanceLock first(path);
        EXPECT_EQ(first.status(), Status::Held);
        SingleInstanceLock second(path);
        EXPECT_EQ(second.status(), Status::AlreadyRunning);
        EXPECT_TRUE(std::filesystem::exists(path));
    }
    SingleInstanceLock afterwards(path);
    EXPECT_EQ(afterwards.status(), Status::Held);
}

TEST(SingleInstanceLockTest, MakesItsFolderPrivate) {
    test::TempDir dir;
    const auto folder = dir.path() / "kestrova-1000";
    SingleInstanceLock lock(folder / "kestrova.lock");
    ASSERT_EQ(lock.status(), Status::Held) << lock.error();
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(SingleInstanceLockTest, RefusesAFolderOthersMayWriteTo) {
    test::TempDir dir;
    const auto folder = dir.path() / "shared";
    std::filesystem::create_directory(folder);
    ::chmod(folder.c_str(), 0777);
    SingleInstanceLock lock(folder / "kestrova.lock");
    EXPECT_EQ(lock.status(), Status::Unavailable);
    EXPECT_FALSE(lock.error().empty());
    EXPECT_FALSE(std::filesystem::exists(folder / "kestrova.lock"));
}

TEST(SingleInstanceLockTest, DoesNotFollowALinkPlantedAsTheLockFile) {
    test::TempDir dir;
    const auto target = dir.path() / "victim";
    std::filesystem::create_symlink(target, dir.path() / "kestrova.lock");
    SingleInstanceLock lock(dir.path() / "kestrova.lock");
    EXPECT_EQ(lock.status(), Status::Unavailable);
    EXPECT_FALSE(std::filesystem::exists(target));
}

}  // namespace
}  // namespace kestrova
