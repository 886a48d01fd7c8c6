// The activity log: the 30 MiB rule at launch and while running, the separator between runs,
// and a log that is no regular file. First launch and removal at quit are in AppDelegateTest.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "app/ActivityLog.h"
#include "platform/system/Files.h"
#include "support/RecordingLog.h"
#include "support/TempDir.h"

namespace kestrova {
namespace {

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Exactly 31,457,280 bytes stay (a relaunch adds three line feeds); one byte more and the log
// starts anew, and the next line lands in the new file. Rows: size, kept, while running.
TEST(ActivityLog, StartsAnewOnlyAboveThirtyMebibytes) {
    for (const auto& [size, kept, running] : {std::tuple{31457280, true, false},
                                              {31457281, false, false},
                                              {31457280, true, true},
                                              {31457281, false, true}}) {
        SCOPED_TRACE(testing::Message() << size << (running ? " while running" : " at launch"));
        test::TempDir dir;
        test::RecordingLog log;
        ActivityLog activity(dir.path() / "Documents" / "Kestrova");
        if (running) activity.prepareAndRedirect(log);
        Files::createDirectories(activity.path().parent_path());
        std::ofstream(activity.path(), std::ios::binary | std::ios::app).put('\n');
        std::filesystem::resize_file(activity.path(), static_cast<std::uintmax_t>(size));
        running ? activity.applySizeRule(log) : activity.prepareAndRedirect(log);
        log.log("next");
        const std::string text = readAll(activity.path());
        const std::size_t prefix = kept ? static_cast<std::size_t>(size) : 0;
        const std::string separator = kept && !running ? "\n\n\n" : "";
        ASSERT_GT(text.size(), prefix + separator.size());
        EXPECT_EQ(text.substr(prefix, separator.size()), separator);
        const std::string rest = text.substr(prefix + separator.size());
        EXPECT_TRUE(rest.ends_with("] next\n")) << rest.substr(0, 80);
        // Nothing but the new lines: a log started anew while running says so first.
        EXPECT_EQ(std::count(rest.begin(), rest.end(), '\n'), !kept && running ? 2 : 1);
    }
}

// A dangling link and a folder at the log's path: neither followed, written nor removed, and the
// program goes on without the log.
TEST(ActivityLog, NoRegularFileIsRefusedAndLeftAlone) {
    test::TempDir dir;
    test::RecordingLog log;
    ActivityLog link(dir.path() / "a"), folder(dir.path() / "b");
    Files::createDirectories(link.path().parent_path());
    std::filesystem::create_symlink(dir.path() / "target", link.path());
    Files::createDirectories(folder.path() / "keep");
    for (ActivityLog* activity : {&link, &folder}) {
        activity->prepareAndRedirect(log);
        activity->removeIfPresent();
    }
    EXPECT_TRUE(std::filesystem::is_symlink(link.path()));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "target"));
    EXPECT_TRUE(Files::isDirectory(folder.path() / "keep"));
    EXPECT_EQ(log.linesStartingWith("ActivityLog -> Not a regular file").size(), 2u);
}

}  // namespace
}  // namespace kestrova
