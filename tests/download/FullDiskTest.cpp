// Downloads onto a disk of their own, a 32 MiB tmpfs: an announced length that would leave less
// than 64 MiB free fails before any file is made; a body without a length that outgrows the
// disk fails at the write that finds it full. Runs as root only (CI does), skips otherwise.
#include <gtest/gtest.h>

#include "download/FileDownload.h"
#include "download/FileDownload_Auto.h"
#include "download/NotificationRecorder.h"
#include "download/TestFiles.h"
#include "messages/Notifications.h"
#include "support/LoopbackServer.h"
#include "support/TestPlatform.h"
#include "support/TmpfsMount.h"

namespace kestrova {
namespace {

using Delivery = test::LoopbackServer::Delivery;
using Reply = test::LoopbackServer::Reply;
using Banner = std::pair<std::string, std::string>;

constexpr std::size_t kMiB = 1024 * 1024;

class FullDiskTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!disk.mounted()) GTEST_SKIP() << "needs a 32 MiB tmpfs of its own: " << disk.why();
    }
    void downloadManually(const std::string& path) {
        FileDownload operation(platform.services, server.url(path), 7);
        operation.start();
        EXPECT_TRUE(operation.isFinished());
    }

    test::TmpfsMount disk{32 * kMiB};
    test::TestPlatform platform{test::TestPlatform::Options{.home = disk.path() / "home"}};
    test::LoopbackServer server;
    test::NotificationRecorder records{platform.center, notification::kDownloadStatus};
};

// 40 MiB announced: more than the whole disk.
TEST_F(FullDiskTest, ManualDownloadLongerThanTheFreeSpaceFailsWithoutAFile) {
    server.reply("/big.bin", Reply{.body = test::LoopbackServer::pattern(40 * kMiB)});
    downloadManually("/big.bin");
    EXPECT_EQ(records.strings(key::kStatus), std::vector<std::string>{status::kError});
    EXPECT_EQ(records.strings(key::kName), std::vector<std::string>{"big.bin"});
    EXPECT_EQ(platform.banners(), (std::vector<Banner>{{"ダウンロード エラー", "big.bin"}}));
    EXPECT_EQ(platform.log.linesStartingWith("FileDownload -> Not Enough Space"),
              std::vector<std::string>{"FileDownload -> Not Enough Space: big.bin"});
    EXPECT_EQ(test::fileNamesIn(platform.files.downloadsDirectory()), std::vector<std::string>{});
}

// 24 MiB announced: it would fit, but leave less than the 64 MiB kept free. It ends like a
// source too small for its title, cancelled, with one line saying why.
TEST_F(FullDiskTest, EpisodeSourceThatWouldLeaveTooLittleFreeIsCancelledWithoutAFile) {
    const std::string url = server.url("/episode.mp4");
    server.reply("/episode.mp4", Reply{.body = test::LoopbackServer::pattern(24 * kMiB)});
    test::NotificationRecorder announcements{platform.center, notification::kAutoDownloadComplete};
    FileDownload_Auto operation(platform.services, url,
                                PlistValue::dictionary({{key::kURL, PlistValue::string(url)},
                                                        {key::kFile, PlistValue::string("T (05)")},
                                                        {key::kTime, PlistValue::integer(1)}}),
                                nullptr);
    operation.start();
    EXPECT_TRUE(operation.isCancelled());
    EXPECT_EQ(platform.log.linesStartingWith("AutoDownloadSystem -> "),
              std::vector<std::string>{
                  "AutoDownloadSystem -> Not Enough Space: T (05).download (24 MB)"});
    EXPECT_EQ(announcements.strings(), std::vector<std::string>{});
    EXPECT_EQ(test::fileNamesIn(platform.files.applicationDirectory()), std::vector<std::string>{});
}

// Nothing announced, so nothing to check beforehand: the disk fills, the write fails with
// ENOSPC, and the partial file goes.
TEST_F(FullDiskTest, BodyWithoutLengthThatFillsTheDiskFailsAndIsRemoved) {
    server.reply("/stream.bin", Reply{.body = test::LoopbackServer::pattern(40 * kMiB),
                                      .delivery = Delivery::Chunked});
    downloadManually("/stream.bin");
    const auto statuses = records.strings(key::kStatus);
    ASSERT_GE(statuses.size(), 2u);
    EXPECT_EQ(statuses.front(), status::kSetup);
    EXPECT_EQ(statuses.back(), status::kError);
    EXPECT_EQ(platform.banners(), (std::vector<Banner>{{"ダウンロード エラー", "stream.bin"}}));
    EXPECT_EQ(test::fileNamesIn(platform.files.downloadsDirectory()), std::vector<std::string>{});
}

}  // namespace
}  // namespace kestrova
