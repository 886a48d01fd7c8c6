#include <gtest/gtest.h>

#include <fstream>

#include "QtTestSession.h"
#include "platform/qt/QtBanners.h"
#include "support/RecordingLog.h"
#include "support/TempDir.h"

namespace kestrova::qt {
namespace {

using test::spinUntil;

std::vector<std::string> recordedLines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

class QtBannersTest : public ::testing::Test {
protected:
    test::TempDir dir;
    std::filesystem::path record = dir.path() / "notify.jsonl";
    test::RecordingLog log;
};

TEST_F(QtBannersTest, EscapesTheTextForAServerThatReadsMarkup) {
    const auto server = test::startFakeService(
        {"notifications", "--record", record.string(), "--markup"}, dir.path() / "server.out");
    ASSERT_TRUE(server);
    QtBanners banners(log);
    banners.deliver("ダウンロード エラー", "Tom & Jerry <1>.mp4");
    banners.deliver("ダウンロード完了", "b.mp4");
    ASSERT_TRUE(spinUntil([&] { return recordedLines(record).size() == 2; }));
    const auto lines = recordedLines(record);
    EXPECT_NE(lines[0].find(R"("body": "Tom &amp; Jerry &lt;1&gt;.mp4")"), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find(R"("summary": "ダウンロード完了")"), std::string::npos) << lines[1];
}

TEST_F(QtBannersTest, WithoutAServerTheFailureIsLogged) {
    QtBanners banners(log);
    banners.deliver("ダウンロード完了", "a.bin");
    ASSERT_TRUE(spinUntil([&] {
        return !log.linesStartingWith("QtBanners -> Notify failed: ダウンロード完了").empty();
    }));
}

}  // namespace
}  // namespace kestrova::qt
