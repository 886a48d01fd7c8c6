// One source of an episode, run on the test's thread: the threshold from "time", the size test
// at the response and at the end, and the files a win leaves.
#include <gtest/gtest.h>

#include "download/FileDownload_Auto.h"
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

constexpr std::size_t kMiB = 1024 * 1024;
constexpr const char* kDetectError =
    "AutoDownloadSystem -> Detect Error: dlst.plist has invalid value in <time>.";

PlistValue animeWith(const std::string& url, const std::string& episode,
                     std::optional<PlistValue> time) {
    PlistValue::Dictionary entries{{key::kURL, PlistValue::string(url)},
                                   {key::kTitle, PlistValue::string("Title")},
                                   {key::kFile, PlistValue::string(episode)}};
    if (time) entries.emplace(key::kTime, *time);
    return PlistValue::dictionary(std::move(entries));
}

class FileDownloadAutoTest : public ::testing::Test {
protected:
    // A source with "time" 1: the threshold is 5 MiB.
    std::shared_ptr<FileDownload_Auto> makeSource(const std::string& path,
                                                  const std::string& episode = "Title (01)") {
        const std::string url = server.url(path);
        return std::make_shared<FileDownload_Auto>(
            platform.services, url, animeWith(url, episode, PlistValue::integer(1)), claims);
    }
    std::shared_ptr<FileDownload_Auto> run(const std::string& path,
                                           const std::string& episode = "Title (01)") {
        auto operation = makeSource(path, episode);
        operation->start();
        EXPECT_TRUE(operation->isFinished());
        return operation;
    }
    std::vector<std::string> autoLogLines() const {
        return platform.log.linesStartingWith("AutoDownloadSystem -> ");
    }
    fs::path folder() const { return platform.files.applicationDirectory(); }

    test::TestPlatform platform;
    test::LoopbackServer server;
    std::shared_ptr<EpisodeClaims> claims = std::make_shared<EpisodeClaims>();
    test::NotificationRecorder announcements{platform.center, notification::kAutoDownloadComplete};
};

struct ThresholdCase {
    const char* name;
    std::optional<PlistValue> time;
    std::int64_t fileSizeHD;
};

class FileDownloadAutoThresholdTest : public FileDownloadAutoTest,
                                      public ::testing::WithParamInterface<ThresholdCase> {};

TEST_P(FileDownloadAutoThresholdTest, ComesFromTime) {
    const FileDownload_Auto operation(platform.services, "http://127.0.0.1:9/x",
                                      animeWith("http://127.0.0.1:9/x", "E (01)", GetParam().time),
                                      claims);
    EXPECT_EQ(operation.fileSizeHD(), GetParam().fileSizeHD);
    EXPECT_EQ(platform.log.contains(kDetectError), GetParam().fileSizeHD == 150);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileDownloadAutoThresholdTest,
    ::testing::Values(ThresholdCase{"Absent", std::nullopt, 150},
                      ThresholdCase{"Zero", PlistValue::integer(0), 150},
                      ThresholdCase{"Negative", PlistValue::integer(-3), 150},
                      ThresholdCase{"TextWithoutDigits", PlistValue::string("abc"), 150},
                      ThresholdCase{"Boolean", PlistValue::boolean(true), 150},
                      ThresholdCase{"Integer", PlistValue::integer(24), 120},
                      ThresholdCase{"TextLeadingInteger", PlistValue::string(" 24分"), 120},
                      ThresholdCase{"RealIntegerPart", PlistValue::real(2.9), 10},
                      ThresholdCase{"LargeWithout32BitOverflow", PlistValue::integer(1'000'000'000),
                                    5'000'000'000},
                      ThresholdCase{"ClampedTo32Bits", PlistValue::string("99999999999"),
                                    10'737'418'235}),
    test::ParamName());

enum class Ending { Refused, Unsuitable, Won, Failed };

struct EdgeCase {
    const char* name;
    std::size_t size;
    Delivery delivery;
    int status;
    Ending ending;
    std::string reason = "";  // of a failure
};

class FileDownloadAutoEdgeTest : public FileDownloadAutoTest,
                                 public ::testing::WithParamInterface<EdgeCase> {};

TEST_P(FileDownloadAutoEdgeTest, EndsAsTheSizeDecides) {
    const auto& row = GetParam();
    const std::string body = test::LoopbackServer::pattern(row.size);
    server.reply("/video.mp4", Reply{.status = row.status, .body = body, .delivery = row.delivery});
    const auto operation = run("/video.mp4");
    // Refused sources leave no line, failed ones their reason; neither leaves a file. The
    // others log the size first.
    const std::string sizeLine = "AutoDownloadSystem -> " +
                                 (folder() / "Title (01).download").string() + ": " +
                                 std::to_string(row.size / kMiB) + " MB";
    std::vector<std::string> lines, files, announced;
    if (row.ending == Ending::Failed) {
        lines = {"AutoDownloadSystem -> Download Failed: Title (01).download: " + row.reason};
    } else if (row.ending == Ending::Unsuitable) {
        lines = {sizeLine, "AutoDownloadSystem -> Unsuitable File: Title (01).download"};
    } else if (row.ending == Ending::Won) {
        lines = {sizeLine, "AutoDownloadSystem -> Download Complete: Title (01).download"};
        files = {"Title (01).mp4"};
        announced = {"Title (01)"};
    }
    EXPECT_EQ(autoLogLines(), lines);
    EXPECT_EQ(test::fileNamesIn(folder()), files);
    EXPECT_EQ(announcements.strings(), announced);
    if (row.ending == Ending::Won) {
        EXPECT_EQ(test::readFile(folder() / "Title (01).mp4"), body);
    }
    if (row.ending != Ending::Unsuitable) {
        EXPECT_EQ(operation->isCancelled(), row.ending == Ending::Refused);
    }
    if (row.ending == Ending::Refused || row.ending == Ending::Failed) {
        EXPECT_EQ(server.requestCount("/video.mp4"), 1u);
    }
    EXPECT_TRUE(platform.banners().empty());
}

// "time" 1: a threshold of 5 MiB.
INSTANTIATE_TEST_SUITE_P(
    Cases, FileDownloadAutoEdgeTest,
    ::testing::Values(
        EdgeCase{"BelowThresholdRefused", 5 * kMiB - 1, Delivery::Whole, 200, Ending::Refused},
        EdgeCase{"AtThresholdUnsuitable", 5 * kMiB, Delivery::Whole, 200, Ending::Unsuitable},
        EdgeCase{"AboveThresholdWins", 6 * kMiB, Delivery::Whole, 200, Ending::Won},
        EdgeCase{"NoLengthRefused", 6 * kMiB, Delivery::Chunked, 200, Ending::Refused},
        EdgeCase{"NotFoundFails", 6 * kMiB, Delivery::Whole, 404, Ending::Failed,
                 "HTTP response code said error"}),
    test::ParamName());

struct FileNameCase {
    const char* name;
    std::string episode;
    std::string file;  // the name the winner is stored under
};

class FileDownloadAutoFileNameTest : public FileDownloadAutoTest,
                                     public ::testing::WithParamInterface<FileNameCase> {};

// The episode name goes out unchanged; only the file name is made safe and short enough.
TEST_P(FileDownloadAutoFileNameTest, WinnerIsStoredUnderTheEpisodeName) {
    server.reply("/v.mp4", Reply{.body = test::LoopbackServer::pattern(6 * kMiB)});
    run("/v.mp4", GetParam().episode);
    EXPECT_EQ(test::fileNamesIn(folder()), std::vector<std::string>{GetParam().file});
    EXPECT_EQ(announcements.strings(), std::vector<std::string>{GetParam().episode});
}

std::string repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

// A title of 90 four-byte characters (360 bytes) keeps 232 bytes: room for 234 is left after
// ".download", a numbered " (9999)" and " (05)", and the 59th character would be split.
const std::string kLongTitle = repeated("𠮷", 90);
const std::string kShortenedTitle = repeated("𠮷", 58);

INSTANTIATE_TEST_SUITE_P(
    Cases, FileDownloadAutoFileNameTest,
    ::testing::Values(FileNameCase{"SlashReplaced", "Fate/Zero (03)", "Fate／Zero (03).mp4"},
                      FileNameCase{"LongTitleShortenedKeepingTheEpisodeNumber",
                                   kLongTitle + " (05)", kShortenedTitle + " (05).mp4"}),
    test::ParamName());

TEST_F(FileDownloadAutoTest, WinnerTakesAFreeNameWhenTheMp4Exists) {
    test::writeFile(folder() / "Title (01).mp4", "earlier");
    const std::string body = test::LoopbackServer::pattern(6 * kMiB);
    server.reply("/v.mp4", Reply{.body = body});
    run("/v.mp4");
    EXPECT_EQ(test::fileNamesIn(folder()),
              (std::vector<std::string>{"Title (01) (1).mp4", "Title (01).mp4"}));
    EXPECT_EQ(test::readFile(folder() / "Title (01).mp4"), "earlier");
    EXPECT_EQ(test::readFile(folder() / "Title (01) (1).mp4"), body);
}

TEST_F(FileDownloadAutoTest, AnnouncementOfAnotherEpisodeLeavesItAlone) {
    server.reply("/v.mp4", Reply{.body = test::LoopbackServer::pattern(6 * kMiB)});
    const auto operation = makeSource("/v.mp4");
    platform.center.post(notification::kAutoDownloadComplete, PlistValue::string("Title (02)"));
    operation->start();
    EXPECT_FALSE(operation->isCancelled());
    EXPECT_EQ(test::fileNamesIn(folder()), std::vector<std::string>{"Title (01).mp4"});
}

TEST_F(FileDownloadAutoTest, AnnouncementOfItsEpisodeWhileWaitingEndsItWithoutARequest) {
    server.reply("/v.mp4", Reply{.body = test::LoopbackServer::pattern(6 * kMiB)});
    const auto operation = makeSource("/v.mp4");
    platform.center.post(notification::kAutoDownloadComplete, PlistValue::string("Title (01)"));
    EXPECT_TRUE(operation->isFinished());
    operation->start();
    EXPECT_TRUE(operation->isCancelled());
    EXPECT_EQ(server.requestCount("/v.mp4"), 0u);
    EXPECT_EQ(test::fileNamesIn(folder()), std::vector<std::string>{});
}

}  // namespace
}  // namespace kestrova
