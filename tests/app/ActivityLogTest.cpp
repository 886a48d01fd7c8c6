// The activity log: the 30 MiB rule at launch and while running, the separator between runs,
// and a log that is no regular file.
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

void growTo(const std::filesystem::path& path, std::int64_t size) {
    std::ofstream(path, std::ios::binary | std::ios::app).put('\n');
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
}

struct SizeCase {
    const char* name;
    std::int64_t size;
    bool kept;
    bool running;  // the rule applied before a scan rather than at launch
};

class ActivityLogSizeTest : public ::testing::TestWithParam<SizeCase> {};

// Exactly 31,457,280 bytes stay (a relaunch adds the three line feeds); one byte more and the
// log starts anew, and the next line lands in the new file.
TEST_P(ActivityLogSizeTest, StartsAnewOnlyAboveThirtyMebibytes) {
    test::TempDir dir;
    test::RecordingLog log;
    ActivityLog activity(dir.path() / "Documents" / "Kestrova");
    if (GetParam().running) activity.prepareAndRedirect(log);
    Files::createDirectories(activity.path().parent_path());
    growTo(activity.path(), GetParam().size);
    if (GetParam().running) {
        activity.applySizeRule(log);
    } else {
        activity.prepareAndRedirect(log);
    }
    log.log("next");
    const std::string text = readAll(activity.path());
    const auto size = static_cast<std::size_t>(GetParam().size);
    const std::size_t prefix = GetParam().kept ? size + (GetParam().running ? 0 : 3) : 0;
    ASSERT_GT(text.size(), prefix);
    EXPECT_TRUE(text.substr(prefix).ends_with("] next\n"));
    EXPECT_LT(text.size() - prefix, 500u);  // nothing but the new lines after what was kept
    if (GetParam().kept && !GetParam().running) {
        EXPECT_EQ(text.substr(size, 3), "\n\n\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ActivityLogSizeTest,
    ::testing::Values(SizeCase{"ExactlyThirtyMiB", 31457280, true, false},
                      SizeCase{"OneByteMore", 31457281, false, false},
                      SizeCase{"ExactlyThirtyMiBWhileRunning", 31457280, true, true},
                      SizeCase{"OneByteMoreWhileRunning", 31457281, false, true}),
    test::ParamName());

// A first launch creates the folder and an empty log (no separator) and writes into it; the log
// is removed at a quit that does not keep it.
TEST(ActivityLog, FirstLaunchCreatesTheLogAndQuitRemovesIt) {
    test::TempDir dir;
    test::RecordingLog log;
    ActivityLog activity(dir.path() / "Documents" / "Kestrova");
    activity.prepareAndRedirect(log);
    log.log("Application Launched.");
    EXPECT_TRUE(readAll(activity.path()).ends_with("] Application Launched.\n"));
    EXPECT_EQ(readAll(activity.path()).find('\n'), readAll(activity.path()).size() - 1);
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
