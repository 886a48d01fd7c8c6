// One source of an episode, run on the test's thread: the size mark from "time", the ending its
// size (or the free space) decides, the file a win leaves, and the announcements it heeds.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <optional>

#include "download/FileDownload_Auto.h"
#include "download/NotificationRecorder.h"
#include "download/TestFiles.h"
#include "messages/Notifications.h"
#include "support/LoopbackServer.h"
#include "support/ParamName.h"
#include "support/TestPlatform.h"
#include "support/TmpfsMount.h"

namespace kestrova {
namespace {

using Strings = std::vector<std::string>;

constexpr std::size_t kMiB = 1024 * 1024;
const std::string kLog = "AutoDownloadSystem -> ";
const std::string kBody = test::LoopbackServer::pattern(6 * kMiB);  // above a mark of 5 MiB

std::shared_ptr<FileDownload_Auto> makeSource(const test::TestPlatform& platform,
                                              const std::string& url, const std::string& episode,
                                              std::optional<PlistValue> time) {
    PlistValue::Dictionary anime{{key::kFile, PlistValue::string(episode)}};
    if (time) anime.emplace(key::kTime, *time);
    return std::make_shared<FileDownload_Auto>(platform.services, url,
                                               PlistValue::dictionary(std::move(anime)), nullptr);
}

struct Mark {
    const char* name;
    std::optional<PlistValue> time;
    std::int64_t mebibytes;
};

class FileDownloadAutoMarkTest : public ::testing::TestWithParam<Mark> {};

TEST_P(FileDownloadAutoMarkTest, ComesFromTime) {
    const test::TestPlatform platform;
    EXPECT_EQ(makeSource(platform, "http://h/", "E (01)", GetParam().time)->fileSizeHD(),
              GetParam().mebibytes);
    EXPECT_EQ(platform.log.contains(kLog + "Detect Error: dlst.plist has invalid value in <time>."),
              GetParam().mebibytes == 150);
}

const Mark kMarks[] = {
    Mark("Absent", std::nullopt, 150),
    Mark("Zero", PlistValue::integer(0), 150),
    Mark("Negative", PlistValue::integer(-3), 150),
    Mark("Boolean", PlistValue::boolean(true), 150),
    Mark("Integer", PlistValue::integer(24), 120),
    Mark("TextLeadingInteger", PlistValue::string(" 24分"), 120),
    Mark("RealIntegerPart", PlistValue::real(2.9), 10),
    Mark("RealNotANumber", PlistValue::real(std::nan("")), 150),
    Mark("LargeWithout32BitOverflow", PlistValue::integer(1'000'000'000), 5'000'000'000),
    Mark("IntegerClampedTo32Bits", PlistValue::integer(100'000'000'000), 10'737'418'235),
    Mark("RealClampedTo32Bits", PlistValue::real(1e12), 10'737'418'235)};

INSTANTIATE_TEST_SUITE_P(Cases, FileDownloadAutoMarkTest, ::testing::ValuesIn(kMarks),
                         test::ParamName());

// The first three end as cancelled.
enum class Ending { Refused, Announced, NoSpace, Failed, Unsuitable, Won };

struct Source {
    const char* name;
    test::LoopbackServer::Reply reply;
    Ending ending;
    std::string episode = "Title (01)";
    std::string stem = "Title (01)";  // of its file names
    bool taken = false;               // "<stem>.mp4" exists already
};

class FileDownloadAutoTest : public ::testing::TestWithParam<Source> {};

// With "time" 1: a mark of 5 MiB.
TEST_P(FileDownloadAutoTest, EndsAsItsSizeDecides) {
    const Source& row = GetParam();
    std::optional<test::TmpfsMount> disk;  // 32 MiB: less than the 64 MiB a download leaves free
    if (row.ending == Ending::NoSpace && !disk.emplace(32 * kMiB).mounted()) {
        GTEST_SKIP() << disk->why();
    }
    const test::TestPlatform platform(
        {.home = disk ? disk->path() / "home" : std::filesystem::path()});
    const auto folder = platform.files.applicationDirectory();
    if (row.taken) test::writeFile(folder / (row.stem + ".mp4"), "earlier");
    test::LoopbackServer server;
    server.reply("/v", row.reply);
    const auto source = makeSource(platform, server.url("/v"), row.episode, PlistValue::integer(1));
    // An announcement of its episode ends it before its request, one of another leaves it alone.
    const bool ownAnnounced = row.ending == Ending::Announced;
    platform.center.post(notification::kAutoDownloadComplete,
                         PlistValue::string(ownAnnounced ? row.episode : "Other (01)"));
    const test::NotificationRecorder announced(platform.center,
                                               notification::kAutoDownloadComplete);
    source->start();

    EXPECT_TRUE(source->isFinished());
    EXPECT_EQ(source->isCancelled(), row.ending <= Ending::NoSpace);
    EXPECT_EQ(server.requestCount("/v"), ownAnnounced ? 0u : 1u);
    const std::string loading = row.stem + ".download";
    const std::string sized = kLog + (folder / loading).string() + ": " +
                              std::to_string(row.reply.body.size() / kMiB) + " MB";
    const std::map<Ending, Strings> lines{
        {Ending::Refused,
         {kLog + "Too Small: " + server.url("/v") + " (" +
          (row.reply.delivery == test::LoopbackServer::Delivery::Chunked ? "no length" : "4 MB") +
          ")"}},
        {Ending::Announced, {}},
        {Ending::NoSpace, {kLog + "Not Enough Space: " + loading + " (24 MB)"}},
        {Ending::Failed,
         {kLog + "Download Failed: " + loading + ": HTTP response code said error"}},
        {Ending::Unsuitable, {sized, kLog + "Unsuitable File: " + loading}},
        {Ending::Won, {sized, kLog + "Download Complete: " + loading}}};
    EXPECT_EQ(platform.log.linesStartingWith(kLog), lines.at(row.ending));
    const bool won = row.ending == Ending::Won;
    EXPECT_EQ(announced.strings(), won ? Strings{row.episode} : Strings{});
    const std::string file = row.stem + (row.taken ? " (1).mp4" : ".mp4");
    EXPECT_EQ(test::readFile(folder / file), won ? kBody : "");
    EXPECT_EQ(test::filesIn(folder).size(), (won ? 1u : 0u) + row.taken);
}

std::string repeated(const std::string& text, int times) {
    std::string out;
    while (times-- > 0) out += text;
    return out;
}

const Source kSources[] = {
    Source("BelowTheMarkRefused", {.body = std::string(5 * kMiB - 1, 'x')}, Ending::Refused),
    Source("WithoutLengthRefused",
           {.body = kBody, .delivery = test::LoopbackServer::Delivery::Chunked}, Ending::Refused),
    Source("AtTheMarkUnsuitable", {.body = std::string(5 * kMiB, 'x')}, Ending::Unsuitable),
    Source("AboveTheMarkWins", {.body = kBody}, Ending::Won),
    Source("AnnouncedWhileWaiting", {.body = kBody}, Ending::Announced),
    Source("NotFoundFails", {.status = 404, .body = kBody}, Ending::Failed),
    // 24 MiB would fit on the disk, but leave less than the 64 MiB kept free.
    Source("TooLittleLeftFreeRefused", {.body = std::string(24 * kMiB, 'x')}, Ending::NoSpace),
    Source("WinnerTakesAFreeName", {.body = kBody}, Ending::Won, "Title (01)", "Title (01)", true),
    Source("SlashInTheFileNameReplaced", {.body = kBody}, Ending::Won, "F/Z (03)", "F／Z (03)"),
    Source("NulInTheFileNameReplaced", {.body = kBody}, Ending::Won, std::string("A\0B (04)", 8),
           "A／B (04)"),
    // 90 four-byte characters keep 58 (232 bytes): with " (05)" and ".download", or a
    // numbered " (9999).mp4", they fill at most 255 bytes, and a 59th would be split.
    Source("LongTitleShortenedKeepingTheEpisodeNumber", {.body = kBody}, Ending::Won,
           repeated("𠮷", 90) + " (05)", repeated("𠮷", 58) + " (05)")};

INSTANTIATE_TEST_SUITE_P(Cases, FileDownloadAutoTest, ::testing::ValuesIn(kSources),
                         test::ParamName());

}  // namespace
}  // namespace kestrova
