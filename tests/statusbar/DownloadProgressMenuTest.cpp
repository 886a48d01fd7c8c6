#include <gtest/gtest.h>

#include "statusbar/StatusBarHarness.h"
#include "support/ParamName.h"

namespace kestrova {
namespace {

using test::describe;

struct Row {
    const char* id;
    const char* name;
    const char* percentage;
    const char* status;
};
using Table = std::vector<Row>;

std::vector<PlistValue> records(const Table& table) {
    std::vector<PlistValue> out;
    for (const Row& row : table) {
        out.push_back(PlistValue::dictionary({{"id", PlistValue::string(row.id)},
                                              {"name", PlistValue::string(row.name)},
                                              {"percentage", PlistValue::string(row.percentage)},
                                              {"status", PlistValue::string(row.status)}}));
    }
    return out;
}

// The whole main menu with these download items (top first) between the separators.
std::vector<std::string> menuWith(const std::vector<std::string>& downloads, bool deleteEnabled) {
    std::vector<std::string> lines = {"ペーストボードからダウンロード (disabled)"};
    if (!downloads.empty()) {
        lines.push_back("--- (disabled)");
        lines.insert(lines.end(), downloads.begin(), downloads.end());
    }
    lines.push_back("--- (disabled)");
    lines.push_back(deleteEnabled ? "ダウンロードが完了した項目を削除"
                                  : "ダウンロードが完了した項目を削除 (disabled)");
    lines.push_back("自動ダウンロードシステム");
    lines.push_back("設定\u2026 ⌘,");
    lines.push_back("Kestrovaを終了 ⌘q");
    return lines;
}

struct ProgressCase {
    const char* name;
    std::vector<Table> passes;
    std::vector<std::string> expected;  // the main menu after the last pass
};

class DownloadProgressTest : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(DownloadProgressTest, MenuFollowsTheTable) {
    test::StatusBarHarness h;
    h.setUp();
    for (const Table& table : GetParam().passes) h.bar->setDownloadStatus(records(table));
    EXPECT_EQ(describe(*h.mainMenu()), GetParam().expected);
}

// "　" in the titles is U+3000, the ideographic space.
INSTANTIATE_TEST_SUITE_P(
    Passes, DownloadProgressTest,
    ::testing::Values(
        ProgressCase{"EmptyTable", {{}}, menuWith({}, false)},
        ProgressCase{"FirstRecord",
                     {{{"1", "a.mp4", "0%", "setup"}}},
                     menuWith({"a.mp4\u3000(0%) #1 (disabled)"}, false)},
        ProgressCase{
            "TwoRecordsInOnePass",
            {{{"1", "a.mp4", "12.5%", "downloading"}, {"2", "b.mp4", "0%", "setup"}}},
            menuWith({"b.mp4\u3000(0%) #2 (disabled)", "a.mp4\u3000(12.5%) #1 (disabled)"}, false)},
        ProgressCase{
            "NewestOnTopAcrossPasses",
            {{{"1", "a.mp4", "0%", "setup"}},
             {{"1", "a.mp4", "3.0%", "downloading"}, {"2", "b.mp4", "0%", "setup"}}},
            menuWith({"b.mp4\u3000(0%) #2 (disabled)", "a.mp4\u3000(3.0%) #1 (disabled)"}, false)},
        ProgressCase{"IdsSpentOnRefusedRequests",
                     {{{"3", "c.mp4", "0%", "setup"}}},
                     menuWith({"c.mp4\u3000(0%) #3 (disabled)"}, false)},
        ProgressCase{
            "CompleteEnablesDelete",
            {{{"1", "a.mp4", "99.9%", "downloading"}}, {{"1", "a.mp4", "完了", "complete"}}},
            menuWith({"a.mp4 #1 ✓ (disabled)"}, true)},
        ProgressCase{
            "ErrorKeepsRunningLook",
            {{{"1", "a.mp4", "40.0%", "downloading"}}, {{"1", "a.mp4", "エラー", "error"}}},
            menuWith({"a.mp4\u3000(エラー) #1 (disabled)"}, false)},
        // Item 3 is above the last remaining id and is not visited: it stays until the table
        // is empty.
        ProgressCase{"DeletedFinishedRows",
                     {{{"1", "a.mp4", "完了", "complete"},
                       {"2", "b.mp4", "50.0%", "downloading"},
                       {"3", "c.mp4", "完了", "complete"}},
                      {{"2", "b.mp4", "50.0%", "downloading"}}},
                     menuWith({"c.mp4 #3 ✓ (disabled)", "b.mp4\u3000(50.0%) #2 (disabled)"}, true)},
        ProgressCase{
            "EmptyTableAfterDownloads",
            {{{"1", "a.mp4", "完了", "complete"}, {"2", "b.mp4", "1.0%", "downloading"}}, {}},
            menuWith({}, false)},
        ProgressCase{"DeleteStaysEnabledUntilTheTableIsEmpty",
                     {{{"1", "a.mp4", "完了", "complete"}}, {{"2", "b.mp4", "0%", "setup"}}},
                     menuWith({"b.mp4\u3000(0%) #2 (disabled)"}, true)},
        ProgressCase{
            "DeleteEnabledAgainAfterAnEmptyTable",
            {{{"1", "a.mp4", "完了", "complete"}}, {}, {{"2", "b.mp4", "完了", "complete"}}},
            menuWith({"b.mp4 #2 ✓ (disabled)"}, true)},
        ProgressCase{"RepeatedIdShowsFirstRecord",
                     {{{"1", "a.mp4", "30.0%", "downloading"}, {"1", "a.mp4", "0%", "setup"}}},
                     menuWith({"a.mp4\u3000(30.0%) #1 (disabled)"}, false)},
        ProgressCase{"LargestId",
                     {{{"2147483647", "big.bin", "1.0%", "downloading"}}},
                     menuWith({"big.bin\u3000(1.0%) #2147483647 (disabled)"}, false)},
        ProgressCase{
            "UnreadableIdIsNotShown", {{{"x", "a.mp4", "0%", "setup"}}}, menuWith({}, false)}),
    test::ParamName());

TEST(DownloadProgress, UnchangedTableChangesNothing) {
    test::StatusBarHarness h;
    h.setUp();
    const auto table = records({{"1", "a.mp4", "完了", "complete"},
                                {"2", "b.mp4", "エラー", "error"},
                                {"3", "c.mp4", "7.5%", "downloading"}});
    h.bar->setDownloadStatus(table);
    EXPECT_GT(h.changes, 0);
    const auto shown = describe(*h.mainMenu());
    h.changes = 0;
    h.bar->setDownloadStatus(table);
    EXPECT_EQ(h.changes, 0);
    EXPECT_EQ(describe(*h.mainMenu()), shown);

    h.bar->setDownloadStatus({});
    EXPECT_GT(h.changes, 0);
    h.changes = 0;
    h.bar->setDownloadStatus({});
    EXPECT_EQ(h.changes, 0);
}

}  // namespace
}  // namespace kestrova
