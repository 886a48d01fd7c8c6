#include <gtest/gtest.h>

#include <fstream>

#include "app/ActivityLog.h"
#include "platform/system/Files.h"
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

void growTo(const std::filesystem::path& path, std::int64_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(size - 1);
    out.put('x');
}

// The 30 MiB rule at launch: a log of exactly 31,457,280 bytes stays and receives the
// separator; one byte more and it is replaced by a new empty log.
TEST_P(ActivityLogSizeTest, TrimsOnlyAboveThirtyMebibytes) {
    test::TempDir dir;
    test::RecordingLog log;
    const auto folder = dir.path() / "Documents" / "Kestrova";
    Files::createDirectories(folder);
    ActivityLog activity(folder);
    std::ofstream(activity.path()).put('\n');
    growTo(activity.path(), GetParam().size);
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

// The same rule before each scan of a process that keeps running: the log it writes into is
// started anew, and the next line lands in the new file.
TEST_P(ActivityLogSizeTest, AppliesWhileRunning) {
    test::TempDir dir;
    test::RecordingLog log;
    ActivityLog activity(dir.path());
    activity.prepareAndRedirect(log);
    growTo(activity.path(), GetParam().size);
    activity.applySizeRule(log);
    log.log("next");
    const std::string text = readAll(activity.path());
    EXPECT_EQ(text.size() > static_cast<std::size_t>(GetParam().size), GetParam().kept);
    EXPECT_NE(text.find("] next\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ActivityLogSizeTest,
                         ::testing::Values(SizeCase{"ExactlyThirtyMiB", 31457280, true},
                                           SizeCase{"OneByteMore", 31457281, false},
                                           SizeCase{"Small", 10, true}),
                         test::ParamName());

TEST(ActivityLog, FirstLaunchCreatesFolderAndEmptyLogAndRedirectsIntoIt) {
    test::TempDir dir;
    test::RecordingLog log;
    ActivityLog activity(dir.path() / "Documents" / "Kestrova");
    activity.prepareAndRedirect(log);
    EXPECT_TRUE(Files::isDirectory(dir.path() / "Documents" / "Kestrova"));
    EXPECT_EQ(readAll(activity.path()), "");  // no separator before the first run
    log.log("Application Launched.");
    EXPECT_NE(readAll(activity.path()).find("] Application Launched.\n"), std::string::npos);
    activity.removeIfPresent();
    EXPECT_FALSE(Files::exists(activity.path()));
}

// Something at the log's path that is no regular file (a folder here; a link in the process
// test): it is neither written nor removed, and launching goes on without the log.
TEST(ActivityLog, NoRegularFileIsRefusedAndLeftAlone) {
    test::TempDir dir;
    test::RecordingLog log;
    ActivityLog activity(dir.path());
    Files::createDirectories(activity.path() / "keep");
    activity.prepareAndRedirect(log);
    activity.removeIfPresent();
    EXPECT_TRUE(Files::isDirectory(activity.path() / "keep"));
    EXPECT_EQ(log.linesStartingWith("ActivityLog -> Not a regular file").size(), 1u);
}

}  // namespace
}  // namespace kestrova
