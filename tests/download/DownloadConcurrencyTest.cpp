// Downloads on the operation queue (also run under ThreadSanitizer). Gated replies hold each
// transfer before its last byte, or stop a trickle, so the test decides when it may finish.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "download/DownloadJournal.h"
#include "download/FileDownload.h"
#include "download/FileDownload_Auto.h"
#include "download/JournalDocument.h"
#include "download/NotificationRecorder.h"
#include "download/TestFiles.h"
#include "messages/Notifications.h"
#include "platform/runtime/OperationQueue.h"
#include "support/LoopbackServer.h"
#include "support/TestPlatform.h"
#include "support/Wait.h"

namespace kestrova {
namespace {

using Delivery = test::LoopbackServer::Delivery;
using Files = std::map<std::string, std::uintmax_t>;
using Strings = std::vector<std::string>;
constexpr std::size_t kMiB = 1024 * 1024;

// Stops observing from inside its callback, as the downloads' coordinator does.
struct FinishObserver final : KeyValueObserver {
    void observeValueForKeyPath(const std::string& key, Operation& operation, bool) override {
        operation.removeObserver(this, key);
        ++calls;
    }
    std::atomic<int> calls{0};
};

class DownloadConcurrencyTest : public ::testing::Test {
protected:
    std::shared_ptr<FileDownload> addDownload(std::int32_t id, test::LoopbackServer::Reply reply) {
        server.reply("/" + std::to_string(id), std::move(reply));
        return queued(std::make_shared<FileDownload>(platform.services,
                                                     server.url("/" + std::to_string(id)), id,
                                                     UrlTransfer::Options{}, Journaling{&journal}));
    }
    // A source of the episode at a path, with "time" 1 (a mark of 5 MiB).
    std::shared_ptr<FileDownload_Auto> addSource(const std::string& episode,
                                                 const std::string& path) {
        return queued(std::make_shared<FileDownload_Auto>(
            platform.services, server.url(path),
            PlistValue::dictionary(
                {{key::kFile, PlistValue::string(episode)}, {key::kTime, PlistValue::integer(1)}}),
            claims));
    }
    // One whose size tells it apart, holding its last byte back at the gate.
    std::shared_ptr<FileDownload_Auto> addSource(const std::string& episode, std::size_t size,
                                                 const std::string& gate) {
        server.reply("/" + std::to_string(size), {.body = std::string(size, 'x'), .gate = gate});
        return addSource(episode, "/" + std::to_string(size));
    }
    template <typename Download>
    std::shared_ptr<Download> queued(std::shared_ptr<Download> download) {
        download->addObserver(&observer, Operation::kIsFinished);
        queue.addOperation(download);
        return download;
    }
    std::map<std::string, std::string> lastStatuses() const {
        std::map<std::string, std::string> last;
        for (const PlistValue& record : records.objects())
            last[record.stringFor(key::kId)] = record.stringFor(key::kStatus);
        return last;
    }

    test::TestPlatform platform;
    test::LoopbackServer server;
    FinishObserver observer;
    DownloadJournal journal{platform.files.configDirectory() / "journal.plist", platform.log};
    // Races whose probe outlasts the test: every source runs on, so that sources of one
    // episode finish together, unless a test races them.
    std::shared_ptr<EpisodeClaims> claims = std::make_shared<EpisodeClaims>(EpisodeRace::Timing{
        .probeShortest = std::chrono::minutes(10), .probeLongest = std::chrono::minutes(10)});
    test::NotificationRecorder records{platform.center, notification::kDownloadStatus};
    test::NotificationRecorder announced{platform.center, notification::kAutoDownloadComplete};
    OperationQueue queue;  // last: destroyed (cancelled and joined) first
};

// Cancels from this thread reach a running and a waiting download and leave a finished one
// alone; nothing of theirs is posted after, and the running one frees its queue slot at once.
TEST_F(DownloadConcurrencyTest, CancelsEndDownloadsQuietlyAndKeepFinishedOnes) {
    queue.setMaxConcurrentOperationCount(1);
    const auto done = addDownload(1, {.body = "complete file"});
    ASSERT_TRUE(test::waitUntil([&] { return done->isFinished(); }));
    addDownload(2, {.body = std::string(kMiB, 'x'), .gate = "never"});
    addDownload(3, {.body = "x"});
    ASSERT_TRUE(test::waitUntil([&] { return lastStatuses()["2"] == "downloading"; }));
    queue.cancelAllOperations();
    done->cancel();
    const std::size_t posted = records.objects().size();
    const auto next = addDownload(4, {.body = "x"});
    ASSERT_TRUE(test::waitUntil([&] { return next->isFinished(); }));
    EXPECT_EQ(records.objects().size(), posted + 3) << "setup, downloading, complete of the 4th";
    EXPECT_EQ(lastStatuses(), (std::map<std::string, std::string>{
                                  {"1", "complete"}, {"2", "downloading"}, {"4", "complete"}}));
    EXPECT_EQ(server.requestCount("/3"), 0u);
    EXPECT_EQ(test::filesIn(platform.files.downloadsDirectory()), (Files{{"1", 13}, {"4", 1}}));
    EXPECT_EQ(platform.banners(), (std::vector<std::pair<std::string, std::string>>{
                                      {"ダウンロード完了", "1"}, {"ダウンロード完了", "4"}}));
    EXPECT_EQ(observer.calls, 4);
    // Cancelled without a quit: no row is left for the next run.
    EXPECT_EQ(JournalDocument::parse(
                  test::readFile(platform.files.configDirectory() / "journal.plist"), nullptr),
              std::vector<JournalEntry>{});
}

// Two sources finish at once, with another episode's. The third passes the size test after the
// winner's claim but before its announcement, which an observer holds until then; the fourth is
// still loading when it comes.
TEST_F(DownloadConcurrencyTest, EachEpisodeHasExactlyOneWinner) {
    std::shared_ptr<FileDownload_Auto> late;
    int held = 0;
    platform.center.addObserver(&held, notification::kAutoDownloadComplete,
                                [&](const PlistValue& name) {
                                    if (name != PlistValue::string("Title (01)")) return;
                                    ++held;
                                    server.openGate("late");
                                    test::waitUntil([&] { return late->isFinished(); });
                                });
    const auto first = addSource("Title (01)", 6 * kMiB, "go");
    const auto second = addSource("Title (01)", 6 * kMiB + 1, "go");
    late = addSource("Title (01)", 7 * kMiB, "late");
    const auto slow = addSource("Title (01)", 7 * kMiB + 1, "never");
    const auto other = addSource("Title (02)", 6 * kMiB + 2, "go");
    ASSERT_TRUE(test::waitUntil([&] {
        return server.waitingAt("go") == 3 && server.waitingAt("late") == 1 &&
               server.waitingAt("never") == 1;
    }));
    server.openGate("go");
    ASSERT_TRUE(test::waitUntil([&] { return observer.calls == 5; }));
    platform.center.removeObserver(&held);
    EXPECT_EQ(held, 1);
    Strings episodes = announced.strings();
    std::sort(episodes.begin(), episodes.end());
    EXPECT_EQ(episodes, (Strings{"Title (01)", "Title (02)"}));
    EXPECT_NE(first->isCancelled(), second->isCancelled());
    EXPECT_TRUE(late->isCancelled() && slow->isCancelled() && !other->isCancelled());
    EXPECT_EQ(platform.log.linesStartingWith("AutoDownloadSystem -> Download Complete").size(), 2u);
    EXPECT_EQ(test::filesIn(platform.files.applicationDirectory()),
              (Files{{"Title (01).mp4", first->isCancelled() ? 6 * kMiB + 1 : 6 * kMiB},
                     {"Title (02).mp4", 6 * kMiB + 2}}));
}

// No announcement posted from another thread may reach a source being destroyed.
TEST_F(DownloadConcurrencyTest, SourcesGoWhileAnnouncementsArePosted) {
    std::atomic<bool> stop{false};
    std::thread poster([&] {
        while (!stop) {
            platform.center.post(notification::kAutoDownloadComplete, PlistValue::string("Other"));
            std::this_thread::yield();
        }
    });
    std::vector<std::weak_ptr<FileDownload_Auto>> sources;
    for (std::size_t size = 1; size <= 40; ++size) sources.push_back(addSource("T (01)", size, ""));
    EXPECT_TRUE(test::waitUntil([&] {
        return std::all_of(sources.begin(), sources.end(), [](auto& s) { return s.expired(); });
    }));
    stop = true;
    poster.join();
}

// Two sources of an episode: the faster leads after the probe and the other waits with its part
// kept; when the leader's connection drops and its rest is refused, the other takes over from
// its own part and wins. The bytes of the two never mix.
TEST_F(DownloadConcurrencyTest, AWaitingSourceTakesOverWhenTheLeaderDies) {
    // The leader's 6 MiB at once against the other's 1 KiB every 20 ms: the probe decides.
    const std::string leader = test::LoopbackServer::pattern(8 * kMiB + 1).substr(1);
    const std::string follower = test::LoopbackServer::pattern(8 * kMiB);
    const std::vector<std::pair<std::string, std::string>> etag{{"ETag", "\"v1\""}};
    server.replies("/lead", {{.body = leader,
                              .delivery = Delivery::Trickle,
                              .headers = etag,
                              .gate = "drop",
                              .part = 6 * kMiB,
                              .trickle = 4096},
                             {.status = 404}});
    server.replies("/follow", {{.body = follower,
                                .delivery = Delivery::Trickle,
                                .headers = etag,
                                .part = 0,
                                .trickle = 1024},
                               {.body = follower, .ranges = true}});
    claims = std::make_shared<EpisodeClaims>();
    const auto lead = addSource("Title (01)", "/lead"), follow = addSource("Title (01)", "/follow");
    ASSERT_TRUE(test::waitUntil([&] {
        return platform.log.linesStartingWith("AutoDownloadSystem -> Waiting").size() == 1;
    }));
    server.openGate("drop");
    ASSERT_TRUE(test::waitUntil([&] { return observer.calls == 2; }));
    EXPECT_EQ(announced.strings(), Strings{"Title (01)"});
    EXPECT_EQ(test::filesIn(platform.files.applicationDirectory()),
              (Files{{"Title (01).mp4", 8 * kMiB}}));
    EXPECT_TRUE(test::readFile(platform.files.applicationDirectory() / "Title (01).mp4") ==
                follower);
    EXPECT_EQ(server.requestCount("/follow"), 2u) << "its first request and one for its rest";
    EXPECT_EQ(server.requestCount("/lead"), 2u) << "its first request and one refused";
    EXPECT_EQ(platform.log.linesStartingWith("AutoDownloadSystem -> Taking Over").size(), 1u);
}

}  // namespace
}  // namespace kestrova
