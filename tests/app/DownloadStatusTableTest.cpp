// The download status table as the coordinator keeps it.
#include <gtest/gtest.h>

#include "app/DownloadStatusTable.h"

namespace kestrova {
namespace {

PlistValue record(const std::string& id, const std::string& status) {
    return PlistValue::dictionary({{"id", PlistValue::string(id)},
                                   {"name", PlistValue::string("file" + id)},
                                   {"percentage", PlistValue::string("0%")},
                                   {"status", PlistValue::string(status)}});
}

std::vector<std::string> statuses(const DownloadStatusTable& table) {
    std::vector<std::string> out;
    for (const auto& row : table.snapshot()) {
        out.push_back(row.stringFor("id") + ":" + row.stringFor("status"));
    }
    return out;
}

// Setup appends (also a second time for the same id), later reports replace the first row with
// that id, unknown ids change nothing.
TEST(DownloadStatusTable, StatusReportsBuildTheTable) {
    DownloadStatusTable table;
    table.apply(record("1", "setup"));
    table.apply(record("2", "setup"));
    table.apply(record("1", "downloading"));
    table.apply(record("7", "error"));  // no setup came for it
    table.apply(record("2", "setup"));  // duplicate setup adds a row
    table.apply(record("2", "complete"));
    table.apply(PlistValue::string("not a record"));
    EXPECT_EQ(statuses(table),
              (std::vector<std::string>{"1:downloading", "2:complete", "2:setup"}));
    EXPECT_EQ(table.countWithStatus("downloading"), 1u);
}

TEST(DownloadStatusTable, DeleteKeepsOnlyRunningRowsInOrder) {
    DownloadStatusTable table;
    for (const char* id : {"1", "2", "3", "4"}) table.apply(record(id, "setup"));
    table.apply(record("1", "complete"));
    table.apply(record("3", "error"));
    table.apply(record("4", "downloading"));
    table.deleteCompleted();
    EXPECT_EQ(statuses(table), (std::vector<std::string>{"2:setup", "4:downloading"}));
}

}  // namespace
}  // namespace kestrova
