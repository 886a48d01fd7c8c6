// A manual download run on the test's thread: what it makes of each way its transfer ends
// (status records, banner, log, the file kept or removed), also on a disk too small for it.
#include <gtest/gtest.h>

#include <optional>

#include "download/FileDownload.h"
#include "download/NotificationRecorder.h"
#include "download/TestFiles.h"
#include "messages/Notifications.h"
#include "support/LoopbackServer.h"
#include "support/ParamName.h"
#include "support/TestPlatform.h"
#include "support/TmpfsMount.h"

namespace kestrova {
namespace {

using Delivery = test::LoopbackServer::Delivery;
using Strings = std::vector<std::string>;

constexpr std::size_t kMiB = 1024 * 1024;
constexpr const char* kUnnamed = "ファイル名を取得できませんでした";
enum class Setup { Plain, NameTaken, FullDisk };

struct Case {
    const char* name;
    test::LoopbackServer::Reply reply;  // at /clip.mp4
    // "status percentage" of each record; a run of "downloading" ones as its last, or as
    // "downloading" alone where the chunks make its values uncertain.
    Strings steps;
    Setup setup = Setup::Plain;
    std::string shown = "clip.mp4";  // the name in every record and in the banner
    std::string url = "";            // instead of the server's /clip.mp4
};

class FileDownloadTest : public ::testing::TestWithParam<Case> {};

TEST_P(FileDownloadTest, ReportsItsStepsAndKeepsOnlyAFinishedFile) {
    const Case& row = GetParam();
    std::optional<test::TmpfsMount> disk;  // 32 MiB: less than the 64 MiB a download leaves free
    if (row.setup == Setup::FullDisk && !disk.emplace(32 * kMiB).mounted()) {
        GTEST_SKIP() << disk->why();
    }
    const test::TestPlatform platform(
        {.home = disk ? disk->path() / "home" : std::filesystem::path()});
    const test::NotificationRecorder records(platform.center, notification::kDownloadStatus);
    const auto folder = platform.files.downloadsDirectory();
    if (row.setup == Setup::NameTaken) test::writeFile(folder / "clip.mp4", "mine");
    test::LoopbackServer server;
    server.reply("/clip.mp4", row.reply);
    const std::string url = row.url.empty() ? server.url("/clip.mp4") : row.url;
    // 1 KiB chunks: each tenth of a percent of 4 MiB takes several.
    FileDownload operation(platform.services, url, 7, {.bufferSize = 1024});
    operation.start();
    EXPECT_TRUE(operation.isFinished() && !operation.isExecuting());

    Strings steps;
    std::string previous;
    for (const PlistValue& record : records.objects()) {
        EXPECT_EQ(record.stringFor(key::kId) + " " + record.stringFor(key::kName),
                  "7 " + row.shown);
        const std::string step =
            record.stringFor(key::kStatus) + " " + record.stringFor(key::kPercentage);
        EXPECT_NE(step, previous) << "a record only when its text changes";
        if (!step.starts_with("downloading") || !previous.starts_with("downloading")) {
            steps.emplace_back();
        }
        steps.back() = step;
        previous = step;
    }
    if (row.steps.size() == 3 && row.steps[1] == "downloading") steps.at(1).resize(11);
    EXPECT_EQ(steps, row.steps);
    const bool kept = row.steps.back() == "complete 完了";
    EXPECT_EQ(platform.banners(),
              (std::vector<std::pair<std::string, std::string>>{
                  {kept ? "ダウンロード完了" : "ダウンロード エラー", row.shown}}));
    EXPECT_EQ(test::readFile(folder / row.shown), kept ? row.reply.body : "");
    EXPECT_EQ(test::filesIn(folder).size(), (kept ? 1u : 0u) + (row.setup == Setup::NameTaken));
    EXPECT_TRUE(platform.log.contains("FileDownload -> Init: " + url));
    EXPECT_EQ(platform.log.contains("FileDownload -> Download Complete: " + row.shown), kept);
    // Refused for its announced length: no file was made, yet the error names the download.
    EXPECT_EQ(platform.log.contains("FileDownload -> Not Enough Space: clip.mp4"),
              steps.size() == 1 && row.shown == "clip.mp4");
}

const Strings kDone{"setup 0%", "downloading 100.0%", "complete 完了"};
const Strings kError{"error エラー"};

const Case kCases[] = {
    Case("Percentages", {.body = std::string(4 * kMiB, 'x')}, kDone),
    Case("AmountsWithoutLength", {.body = std::string(kMiB, 'x'), .delivery = Delivery::Chunked},
         {"setup 0%", "downloading 1.0 MB", "complete 完了"}),
    Case("BytesWithoutLength", {.body = std::string(1000, 'x'), .delivery = Delivery::Chunked},
         {"setup 0%", "downloading 1000 B", "complete 完了"}),
    Case("TakenNameNumbered", {.body = "x"}, kDone, Setup::NameTaken, "clip (1).mp4"),
    Case("RefusedBeforeTheFile", {.status = 404}, kError, Setup::Plain, kUnnamed),
    Case("UnfetchableUrl", {}, kError, Setup::Plain, kUnnamed, "コピーした文章"),
    Case("DroppedAfterTheFile", {.body = std::string(kMiB, 'x'), .delivery = Delivery::ShortBody},
         {"setup 0%", "downloading 50.0%", "error エラー"}),
    Case("LongerThanTheFreeSpace", {.body = std::string(40 * kMiB, 'x')}, kError, Setup::FullDisk),
    // Nothing announced to check beforehand: the write that finds the disk full fails.
    Case("DiskFilledWithoutLength",
         {.body = std::string(40 * kMiB, 'x'), .delivery = Delivery::Chunked},
         {"setup 0%", "downloading", "error エラー"}, Setup::FullDisk)};

INSTANTIATE_TEST_SUITE_P(Cases, FileDownloadTest, ::testing::ValuesIn(kCases), test::ParamName());

}  // namespace
}  // namespace kestrova
