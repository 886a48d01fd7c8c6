// Downloads run on the test's thread: a manual one for each way its transfers end, and one
// source of an episode for each ending its size (or the free space) decides.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <optional>

#include "download/DownloadJournal.h"
#include "download/FileDownload.h"
#include "download/FileDownload_Auto.h"
#include "download/NotificationRecorder.h"
#include "download/TestFiles.h"
#include "messages/Notifications.h"
#include "platform/system/Files.h"
#include "support/LoopbackServer.h"
#include "support/ParamName.h"
#include "support/TestPlatform.h"
#include "support/TmpfsMount.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;
using Delivery = test::LoopbackServer::Delivery;
using Reply = test::LoopbackServer::Reply;
using Strings = std::vector<std::string>;

constexpr std::size_t kMiB = 1024 * 1024;
constexpr const char* kUnnamed = "ファイル名を取得できませんでした";
enum class Setup { Plain, NameTaken, FullDisk };

// 32 MiB, less than the 64 MiB a download leaves free, for a row that asks for it.
std::unique_ptr<test::TmpfsMount> smallDisk(bool wanted) {
    return wanted ? std::make_unique<test::TmpfsMount>(32 * kMiB) : nullptr;
}

struct Case {
    const char* name;
    std::vector<Reply> replies;  // at /clip.mp4, in turn
    // "status percentage" of each record, a run of "downloading" ones as its last ("downloading"
    // alone where the chunks make its values uncertain).
    Strings steps;
    // What each request for the rest names as kept (0: more than the first 1 MiB).
    std::vector<std::size_t> kept = {};
    Setup setup = Setup::Plain;
    std::string shown = "clip.mp4";  // the name in every record and in the banner
    std::string url = "";
    UrlTransfer::Options options = {.bufferSize = 1024};
};

class FileDownloadTest : public ::testing::TestWithParam<Case> {};

// Percentages never go back; each request for the rest carries the first reply's validator.
TEST_P(FileDownloadTest, ReportsItsStepsAndKeepsOnlyAFinishedFile) {
    const Case& row = GetParam();
    const auto disk = smallDisk(row.setup == Setup::FullDisk);
    if (disk && !disk->mounted()) GTEST_SKIP() << disk->why();
    const test::TestPlatform platform({.home = disk ? disk->path() / "home" : ""});
    const test::NotificationRecorder records(platform.center, notification::kDownloadStatus);
    const auto folder = platform.files.downloadsDirectory();
    if (row.setup == Setup::NameTaken) test::writeFile(folder / "clip.mp4", "mine");
    test::LoopbackServer server;
    server.replies("/clip.mp4", row.replies);
    const std::string url = row.url.empty() ? server.url("/clip.mp4") : row.url;
    FileDownload operation(platform.services, url, 7, row.options);
    operation.start();
    EXPECT_TRUE(operation.isFinished() && !operation.isExecuting());

    Strings steps;
    std::string previous;
    double shown = 0;
    for (const PlistValue& record : records.objects()) {
        EXPECT_EQ(record.stringFor(key::kId) + " " + record.stringFor(key::kName),
                  "7 " + row.shown);
        const std::string step =
            record.stringFor(key::kStatus) + " " + record.stringFor(key::kPercentage);
        EXPECT_NE(step, previous) << "a record only when its text changes";
        if (!step.starts_with("downloading") || !previous.starts_with("downloading"))
            steps.emplace_back();
        steps.back() = previous = step;
        if (step.starts_with("downloading") && step.ends_with('%')) {
            const double percent = std::stod(step.substr(12));
            EXPECT_GE(percent, shown) << step;
            shown = percent;
        }
    }
    if (row.steps.size() == 3 && row.steps[1] == "downloading") steps.at(1).resize(11);
    EXPECT_EQ(steps, row.steps);
    const Strings asked = server.headers("/clip.mp4", "Range");
    const Strings validators = server.headers("/clip.mp4", "If-Range");
    ASSERT_EQ(asked.size(), row.url.empty() ? 1 + row.kept.size() : 0);
    for (std::size_t i = 1; i < asked.size(); ++i) {
        const std::size_t kept = std::stoul(asked[i].substr(6));
        EXPECT_TRUE(row.kept[i - 1] == 0 ? kept > kMiB : kept == row.kept[i - 1]) << kept;
        EXPECT_EQ(asked[i] + " " + validators[i], "bytes=" + std::to_string(kept) + "- \"v1\"");
    }
    const bool kept = row.steps.back() == "complete 完了";
    EXPECT_EQ(platform.banners(),
              (std::vector<std::pair<std::string, std::string>>{
                  {kept ? "ダウンロード完了" : "ダウンロード エラー", row.shown}}));
    EXPECT_TRUE(test::readFile(folder / row.shown) == (kept ? row.replies.back().body : ""));
    EXPECT_EQ(test::filesIn(folder).size(), (kept ? 1u : 0u) + (row.setup == Setup::NameTaken));
    EXPECT_TRUE(platform.log.contains("FileDownload -> Init: " + url));
    EXPECT_EQ(platform.log.contains("FileDownload -> Download Complete: " + row.shown), kept);
    EXPECT_EQ(platform.log.contains("FileDownload -> Not Enough Space: clip.mp4"),
              steps.size() == 1 && row.shown == "clip.mp4");
}

const Strings kDone{"setup 0%", "downloading 100.0%", "complete 完了"};
const Strings kError{"error エラー"};
const Strings kBrokenOff{"setup 0%", "downloading 50.0%", "error エラー"};
// 2 MiB that a validator names; broken off after the first 1 MiB.
const std::string kClip = test::LoopbackServer::pattern(2 * kMiB);
const Reply kBroken{
    .body = kClip, .delivery = Delivery::ShortBody, .headers = {{"ETag", "\"v1\""}}};
const Reply kRest{.body = kClip, .ranges = true};

// clang-format off
const Case kCases[] = {
    {"Percentages", {{.body = std::string(4 * kMiB, 'x')}}, kDone},
    {"AmountsWithoutLength", {{.body = std::string(kMiB, 'x'), .delivery = Delivery::Chunked}}, {"setup 0%", "downloading 1.0 MB", "complete 完了"}},
    {"BytesWithoutLength", {{.body = std::string(1000, 'x'), .delivery = Delivery::Chunked}}, {"setup 0%", "downloading 1000 B", "complete 完了"}},
    {"TakenNameNumbered", {{.body = "x"}}, kDone, {}, Setup::NameTaken, "clip (1).mp4"},
    {"RefusedBeforeTheFile", {{.status = 404}}, kError, {}, Setup::Plain, kUnnamed},
    {"UnfetchableUrl", {}, kError, {}, Setup::Plain, kUnnamed, "コピーした文章"},
    {"LongerThanTheFreeSpace", {{.body = std::string(40 * kMiB, 'x')}}, kError, {}, Setup::FullDisk},
    {"DiskFilledWithoutLength", {{.body = std::string(40 * kMiB, 'x'), .delivery = Delivery::Chunked}}, {"setup 0%", "downloading", "error エラー"}, {}, Setup::FullDisk},
    // A transfer broken off asks for the rest, up to three times.
    {"RestContinuesTheFile", {kBroken, kRest}, kDone, {kMiB}},
    {"WholeStartsAgain", {kBroken, {.body = kClip, .delivery = Delivery::Chunked}}, {"setup 0%", "downloading", "complete 完了"}, {kMiB}},
    {"WrongRangeFails", {kBroken, {.body = kClip, .ranges = true, .misstated = 1}}, kBrokenOff, {kMiB}},
    {"RefusedRestFails", {kBroken, {.status = 404}}, kBrokenOff, {kMiB}},
    {"ThreeTimesAtMost", {kBroken, {.body = kClip, .delivery = Delivery::ShortBody, .part = 64 * 1024, .ranges = true}}, {"setup 0%", "downloading", "error エラー"}, {kMiB, kMiB + 64 * 1024, kMiB + 128 * 1024}},
    // 1 KiB every 20 ms is under 64 KiB a second: given up like a stall, then resumed.
    {"TrickleGivenUp", {{.body = kClip, .delivery = Delivery::Trickle, .headers = kBroken.headers, .trickle = 1024}, kRest}, kDone, {0}, Setup::Plain, "clip.mp4", "", {.trickleWindow = 300ms, .trickleBytes = 64 * 1024}}};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, FileDownloadTest, ::testing::ValuesIn(kCases), test::ParamName());

// Resumed at launch, a download whose server cannot be reached (no network yet) keeps its file
// and its row for the next launch; one whose server refuses the rest ends like any failure.
TEST(FileDownloadFromLastRun, KeepsItsFileOnlyWhileTheServerWasNotReached) {
    for (const bool reached : {false, true}) {
        SCOPED_TRACE(reached ? "refused" : "not reached");
        test::TestPlatform platform;
        test::LoopbackServer server;
        server.reply("/a.bin", {.status = 404});
        const auto file = platform.files.downloadsDirectory() / "a.bin";
        test::writeFile(file, "half");
        const auto path = platform.files.configDirectory() / "journal.plist";
        const auto resumable = [&] {
            return DownloadJournal(path, platform.log)
                .resumable(platform.files.downloadsDirectory(), {});
        };
        DownloadJournal(path, platform.log)
            .add({.url = reached ? server.url("/a.bin") : "http://127.0.0.1:9/a.bin",
                  .file = "a.bin",
                  .length = 8,
                  .kept = 4,
                  .validator = "\"v1\"",
                  .inode = Files::inode(file),
                  .title = {},
                  .episode = {}});
        DownloadJournal journal(path, platform.log);
        const auto rows = journal.resumable(platform.files.downloadsDirectory(), {});
        ASSERT_EQ(rows.size(), 1u);
        FileDownload operation(platform.services, rows[0].entry.url, 1, {},
                               Journaling{&journal, rows[0]});
        operation.start();
        EXPECT_EQ(platform.banners().size(), 1u);
        EXPECT_EQ(test::readFile(file), reached ? "" : "half");
        EXPECT_EQ(resumable().size(), reached ? 0u : 1u);
    }
}

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

// The size mark in MiB, clamped to 32 bits; a "time" that gives none is logged and means 150.
TEST(FileDownloadAutoMark, ComesFromTime) {
    const std::string kInvalidTime = "Detect Error: dlst.plist has invalid value in <time>.";
    // clang-format off
    const std::pair<std::optional<PlistValue>, std::int64_t> marks[] = {
        {std::nullopt, 150}, {PlistValue::integer(0), 150}, {PlistValue::boolean(true), 150},
        {PlistValue::real(std::nan("")), 150}, {PlistValue::string(" 24分"), 120},
        {PlistValue::real(2.9), 10}, {PlistValue::integer(1'000'000'000), 5'000'000'000},
        {PlistValue::integer(100'000'000'000), 10'737'418'235}, {PlistValue::real(1e12), 10'737'418'235}};
    // clang-format on
    for (std::size_t row = 0; row < std::size(marks); ++row) {
        SCOPED_TRACE(row);
        const test::TestPlatform platform;
        const auto& [time, mebibytes] = marks[row];
        EXPECT_EQ(makeSource(platform, "http://h/", "E (01)", time)->fileSizeHD(), mebibytes);
        EXPECT_EQ(platform.log.contains(kLog + kInvalidTime), mebibytes == 150);
    }
}

enum class Ending { Refused, Announced, NoSpace, Failed, Unsuitable, Won };

struct Source {
    const char* name;
    test::LoopbackServer::Reply reply;
    Ending ending;
    std::string episode = "Title (01)";
    std::string stem = "Title (01)";  // of its file names
    bool taken = false;               // "<stem>.mp4" exists
};

class FileDownloadAutoTest : public ::testing::TestWithParam<Source> {};

// With "time" 1: a mark of 5 MiB.
TEST_P(FileDownloadAutoTest, EndsAsItsSizeDecides) {
    const Source& row = GetParam();
    const auto disk = smallDisk(row.ending == Ending::NoSpace);
    if (disk && !disk->mounted()) GTEST_SKIP() << disk->why();
    const test::TestPlatform platform({.home = disk ? disk->path() / "home" : ""});
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
          (row.reply.delivery == Delivery::Chunked ? "no length" : "4 MB") + ")"}},
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

std::string kanji(int times) { return times == 0 ? "" : "𠮷" + kanji(times - 1); }

const Source kSources[] = {
    Source("BelowTheMarkRefused", {.body = std::string(5 * kMiB - 1, 'x')}, Ending::Refused),
    Source("WithoutLengthRefused", {.body = kBody, .delivery = Delivery::Chunked}, Ending::Refused),
    Source("AtTheMarkUnsuitable", {.body = std::string(5 * kMiB, 'x')}, Ending::Unsuitable),
    Source("AboveTheMarkWins", {.body = kBody}, Ending::Won),
    Source("AnnouncedWhileWaiting", {.body = kBody}, Ending::Announced),
    Source("NotFoundFails", {.status = 404, .body = kBody}, Ending::Failed),
    Source("TooLittleLeftFreeRefused", {.body = std::string(24 * kMiB, 'x')}, Ending::NoSpace),
    Source("WinnerTakesAFreeName", {.body = kBody}, Ending::Won, "Title (01)", "Title (01)", true),
    Source("SlashInTheFileNameReplaced", {.body = kBody}, Ending::Won, "F/Z (03)", "F／Z (03)"),
    Source("NulInTheFileNameReplaced", {.body = kBody}, Ending::Won, std::string("A\0B (04)", 8),
           "A／B (04)"),
    // 58 four-byte characters (232 bytes) with a numbered " (9999).mp4" fill at most 255 bytes.
    Source("LongTitleShortenedKeepingTheEpisodeNumber", {.body = kBody}, Ending::Won,
           kanji(90) + " (05)", kanji(58) + " (05)")};

INSTANTIATE_TEST_SUITE_P(Cases, FileDownloadAutoTest, ::testing::ValuesIn(kSources),
                         test::ParamName());

}  // namespace
}  // namespace kestrova
