// A manual download run on the test's thread against a loopback server: its status records,
// banners, log lines and the file it leaves (or does not leave) in the Downloads folder.
#include <gtest/gtest.h>

#include <regex>

#include "download/FileDownload.h"
#include "download/NotificationRecorder.h"
#include "download/TestFiles.h"
#include "messages/Notifications.h"
#include "support/LoopbackServer.h"
#include "support/ParamName.h"
#include "support/TestPlatform.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;
using Delivery = test::LoopbackServer::Delivery;
using Reply = test::LoopbackServer::Reply;
using Banner = std::pair<std::string, std::string>;

constexpr const char* kPlaceholder = "ファイル名を取得できませんでした";

class FileDownloadTest : public ::testing::Test {
protected:
    std::shared_ptr<FileDownload> download(const std::string& url,
                                           UrlTransfer::Options options = {}) {
        auto operation = std::make_shared<FileDownload>(platform.services, url, 7, options);
        operation->start();
        EXPECT_TRUE(operation->isFinished());
        EXPECT_FALSE(operation->isExecuting());
        return operation;
    }
    // "status percentage" of every record, checking the id and name they all carry.
    std::vector<std::string> progress(const std::string& name) {
        std::vector<std::string> out;
        for (const auto& record : records.objects()) {
            EXPECT_EQ(record.stringFor(key::kId), "7");
            EXPECT_EQ(record.stringFor(key::kName), name);
            out.push_back(record.stringFor(key::kStatus) + " " +
                          record.stringFor(key::kPercentage));
        }
        return out;
    }
    fs::path downloads() const { return platform.files.downloadsDirectory(); }

    test::TestPlatform platform;
    test::LoopbackServer server;
    test::NotificationRecorder records{platform.center, notification::kDownloadStatus};
};

struct FailureCase {
    const char* name;
    Reply reply;
    std::string url;  // "" for the server's /file.bin
    bool created;     // the failure came after the destination was created
};

class FileDownloadFailureTest : public FileDownloadTest,
                                public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FileDownloadFailureTest, ReportsErrorAndLeavesNothing) {
    const auto& row = GetParam();
    server.reply("/file.bin", row.reply);
    const auto operation = download(row.url.empty() ? server.url("/file.bin") : row.url);
    const std::string name = row.created ? "file.bin" : kPlaceholder;
    const auto steps = progress(name);
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.back(), "error エラー");
    EXPECT_EQ(steps.front() == "setup 0%", row.created);
    EXPECT_EQ(platform.banners(), (std::vector<Banner>{{"ダウンロード エラー", name}}));
    EXPECT_EQ(test::fileNamesIn(downloads()), std::vector<std::string>{});
    EXPECT_TRUE(platform.log.linesStartingWith("FileDownload -> Download Complete").empty());
}

const std::string kBody = test::LoopbackServer::pattern(300 * 1024);

INSTANTIATE_TEST_SUITE_P(
    Cases, FileDownloadFailureTest,
    ::testing::Values(
        FailureCase{"NotFound", Reply{.status = 404, .body = "<html>404</html>"}, "", false},
        FailureCase{"ServerError", Reply{.status = 500, .body = "<html>500</html>"}, "", false},
        FailureCase{"RedirectToFile",
                    Reply{.status = 302, .headers = {{"Location", "file:///etc/passwd"}}}, "",
                    false},
        FailureCase{"DroppedMidBody", Reply{.body = kBody, .delivery = Delivery::DropMidBody}, "",
                    true},
        FailureCase{"ShorterThanAnnounced", Reply{.body = kBody, .delivery = Delivery::ShortBody},
                    "", true},
        FailureCase{"UnparseableUrl", Reply{}, "http://", false},
        FailureCase{"FtpUrl", Reply{}, "ftp://127.0.0.1/file.bin", false},
        FailureCase{"NotAUrl", Reply{}, "コピーした文章", false}),
    test::ParamName());

struct SuccessCase {
    const char* name;
    Reply reply;
    std::string path;
    std::string savedName;
    bool announcedLength;
};

class FileDownloadSuccessTest : public FileDownloadTest,
                                public ::testing::WithParamInterface<SuccessCase> {};

TEST_P(FileDownloadSuccessTest, ReportsProgressAndCompletes) {
    const auto& row = GetParam();
    server.reply(row.path, row.reply);
    server.reply("/files/final.bin", Reply{.body = kBody});
    const std::string url = server.url(row.path);
    const auto operation = download(url);

    const auto steps = progress(row.savedName);
    ASSERT_GE(steps.size(), 2u);
    EXPECT_EQ(steps.front(), "setup 0%");
    EXPECT_EQ(steps.back(), "complete 完了");
    const std::regex percentage(R"(downloading \d{1,3}\.\d%)");
    const std::regex amount(R"(downloading \d+(\.\d)? (B|KB|MB))");
    for (std::size_t i = 1; i + 1 < steps.size(); ++i) {
        EXPECT_TRUE(std::regex_match(steps[i], row.announcedLength ? percentage : amount))
            << steps[i];
        EXPECT_NE(steps[i], steps[i - 1]) << "a record is posted only when its text changes";
    }
    if (row.announcedLength && steps.size() > 2) {
        EXPECT_EQ(steps[steps.size() - 2], "downloading 100.0%");
    }

    const std::string expected = row.reply.status == 302 ? kBody : row.reply.body;
    EXPECT_EQ(test::readFile(downloads() / row.savedName), expected);
    EXPECT_EQ(test::fileNamesIn(downloads()), std::vector<std::string>{row.savedName});
    EXPECT_EQ(platform.banners(), (std::vector<Banner>{{"ダウンロード完了", row.savedName}}));
    EXPECT_TRUE(platform.log.contains("FileDownload -> Init: " + url));
    EXPECT_TRUE(platform.log.contains("FileDownload -> Download Complete: " + row.savedName));
}

const std::string kText = [] {
    std::string text;
    for (int i = 0; text.size() < 256 * 1024; ++i) text += "line " + std::to_string(i) + "\n";
    return text;
}();

INSTANTIATE_TEST_SUITE_P(
    Cases, FileDownloadSuccessTest,
    ::testing::Values(
        SuccessCase{"Whole", Reply{.body = kBody}, "/clip.mp4", "clip.mp4", true},
        SuccessCase{"ChunkedWithoutLength", Reply{.body = kBody, .delivery = Delivery::Chunked},
                    "/clip.mp4", "clip.mp4", false},
        SuccessCase{"GzipStoredDecoded", Reply{.body = kText, .delivery = Delivery::Gzip},
                    "/log.txt", "log.txt", false},
        SuccessCase{"RedirectToHttp",
                    Reply{.status = 302, .headers = {{"Location", "/files/final.bin"}}}, "/go",
                    "final.bin", true},
        SuccessCase{"EmptyBody", Reply{}, "/empty.txt", "empty.txt", true},
        // The transfer tests check the encoding on the wire.
        SuccessCase{"SpacesAndNonAsciiInUrl", Reply{.body = "x"}, "/第1話 予告.mp4",
                    "第1話 予告.mp4", true},
        SuccessCase{
            "SlowDrip",
            Reply{.body = kBody.substr(0, 2048), .delivery = Delivery::Drip, .chunkSize = 512},
            "/drip.bin", "drip.bin", true},
        SuccessCase{"ContentDispositionName",
                    Reply{.body = kBody,
                          .headers = {{"Content-Disposition",
                                       "attachment; filename*=UTF-8''%E5%8B%95%E7%94%BB.mp4"}}},
                    "/get", "動画.mp4", true}),
    test::ParamName());

TEST_F(FileDownloadTest, OneRecordPerChangeOfTheOneDecimalPercentage) {
    server.reply("/four.bin", Reply{.body = test::LoopbackServer::pattern(4'194'304)});
    UrlTransfer::Options options;
    options.bufferSize = 1024;  // chunks of at most 1,024 bytes
    download(server.url("/four.bin"), options);
    const auto steps = progress("four.bin");
    ASSERT_EQ(steps.size(), 1u + 1001u + 1u);
    EXPECT_EQ(steps[0], "setup 0%");
    EXPECT_EQ(steps[1], "downloading 0.0%");
    EXPECT_EQ(steps[2], "downloading 0.1%");
    EXPECT_EQ(steps[500], "downloading 49.9%");
    EXPECT_EQ(steps[1001], "downloading 100.0%");
    EXPECT_EQ(steps[1002], "complete 完了");
}

TEST_F(FileDownloadTest, ExistingFileIsKeptAndTheDownloadTakesAFreeName) {
    test::writeFile(downloads() / "clip.mp4", "mine");
    server.reply("/clip.mp4", Reply{.body = kBody});
    download(server.url("/clip.mp4"));
    const auto steps = progress("clip (1).mp4");
    EXPECT_EQ(steps.back(), "complete 完了");
    EXPECT_EQ(test::readFile(downloads() / "clip.mp4"), "mine");
    EXPECT_EQ(test::readFile(downloads() / "clip (1).mp4"), kBody);
    EXPECT_EQ(platform.banners(), (std::vector<Banner>{{"ダウンロード完了", "clip (1).mp4"}}));
}

}  // namespace
}  // namespace kestrova
