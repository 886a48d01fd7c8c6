#include <gtest/gtest.h>

#include <fstream>

#include "app/ActivityLog.h"
#include "platform/Files.h"
#include "support/ParamName.h"
#include "support/RecordingLog.h"
#include "support/TempDir.h"

namespace kestrova {
namespace {

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

struct SizeCase {
    const char* name;
    std::int64_t size;
    bool kept;
};

class ActivityLogSizeTest : public ::testing::TestWithParam<SizeCase> {};

// The 30 MiB rule: a log of exactly 31,457,280 bytes stays and receives the separator; one
// byte more and it is replaced by a new empty log.
TEST_P(ActivityLogSizeTest, TrimsOnlyAboveThirtyMebibytes) {
    test::TempDir dir;
    test::RecordingLog log;
    const auto folder = dir.path() / "Documents" / "Kestrova";
    Files::createDirectories(folder);
    const ActivityLog activity(folder);
    {
        std::ofstream out(activity.path(), std::ios::binary);
        out.seekp(GetParam().size - 1);
        out.put('x');
    }
    activity.prepareAndRedirect(log);
    const auto size = Files::fileSize(activity.path());
    ASSERT_TRUE(size);
    if (GetParam().kept) {
        EXPECT_EQ(*size, GetParam().size + 3);
        std::ifstream in(activity.path(), std::ios::binary);
        in.seekg(GetParam().size - 1);
        std::string tail(4, '\0');
        in.read(tail.data(), 4);
        EXPECT_EQ(tail, "x\n\n\n");
    } else {
        EXPECT_EQ(*size, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ActivityLogSizeTest,
                         ::testing::Values(SizeCase{"ExactlyThirtyMiB", 31457280, true},
                                           SizeCase{"OneByteMore", 31457281, false},
                                           SizeCase{"Small", 10, true}),
                         test::ParamName());

TEST(ActivityLog, FirstLaunchCreatesFolderAndEmptyLogAndRedirectsIntoIt) {
    test::TempDir dir;
    test::RecordingLog log;
    const ActivityLog activity(dir.path() / "Documents" / "Kestrova");
    activity.prepareAndRedirect(log);
    EXPECT_TRUE(Files::isDirectory(dir.path() / "Documents" / "Kestrova"));
    EXPECT_EQ(readAll(activity.path()), "");  // no separator before the first run
    log.log("Application Launched.");
    EXPECT_NE(readAll(activity.path()).find("] Application Launched.\n"), std::string::npos);
    activity.removeIfPresent();
    EXPECT_FALSE(Files::exists(activity.path()));
}

// Something at the log's path that cannot be opened for writing (even by root): the
// separator is skipped, nothing is removed, and launching goes on.
TEST(ActivityLog, UnwritableLogSkipsTheSeparatorAndLaunchGoesOn) {
    test::TempDir dir;
    test::RecordingLog log;
    const ActivityLog activity(dir.path());
    Files::createDirectories(activity.path() / "keep");
    activity.prepareAndRedirect(log);
    EXPECT_TRUE(Files::isDirectory(activity.path() / "keep"));
}

}  // namespace
}  // namespace kestrova
