// Downloads on the operation queue with cancels from other threads and racing sources of one
// episode (also run under ThreadSanitizer). Gated replies hold each source just before its last
// byte, so the test decides who finishes first.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <set>
#include <thread>

#include "download/FileDownload.h"
#include "download/FileDownload_Auto.h"
#include "download/NotificationRecorder.h"
#include "download/TestFiles.h"
#include "messages/Notifications.h"
#include "platform/runtime/OperationQueue.h"
#include "platform/system/Files.h"
#include "support/LoopbackServer.h"
#include "support/TestPlatform.h"
#include "support/Wait.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;
using Reply = test::LoopbackServer::Reply;
using Banner = std::pair<std::string, std::string>;

constexpr std::size_t kMiB = 1024 * 1024;
constexpr const char* kEpisode = "Title (01)";

class DownloadConcurrencyTest : public ::testing::Test {
protected:
    std::shared_ptr<FileDownload> addManual(const std::string& path, std::int32_t id, Reply reply) {
        server.reply(path, std::move(reply));
        auto operation = std::make_shared<FileDownload>(platform.services, server.url(path), id);
        added.push_back(operation);
        queue.addOperation(operation);
        return operation;
    }
    // A source of an episode with "time" 1 (threshold 5 MiB) serving size bytes.
    std::shared_ptr<FileDownload_Auto> addSource(const std::string& path, std::size_t size,
                                                 const std::string& gate,
                                                 const std::string& episode = kEpisode) {
        bodies[path] = test::LoopbackServer::pattern(size, static_cast<unsigned>(bodies.size()));
        server.reply(path, Reply{.body = bodies[path], .gate = gate});
        auto operation = makeSource(server.url(path), episode);
        sizes[operation.get()] = static_cast<std::int64_t>(size);
        added.push_back(operation);
        queue.addOperation(operation);
        return operation;
    }
    std::shared_ptr<FileDownload_Auto> makeSource(const std::string& url,
                                                  const std::string& episode) {
        return std::make_shared<FileDownload_Auto>(
            platform.services, url,
            PlistValue::dictionary({{key::kURL, PlistValue::string(url)},
                                    {key::kTitle, PlistValue::string("Title")},
                                    {key::kFile, PlistValue::string(episode)},
                                    {key::kTime, PlistValue::integer(1)}}),
            claims);
    }
    // Waits until every source holds all of its body but the last byte: the folder's loading
    // files then have those sizes.
    bool atGates(std::initializer_list<std::shared_ptr<FileDownload_Auto>> sources) {
        return test::waitUntil([&] {
            std::multiset<std::int64_t> loading;
            for (const std::string& name : test::fileNamesIn(folder())) {
                if (name.ends_with(".download")) loading.insert(*Files::fileSize(folder() / name));
            }
            return std::all_of(sources.begin(), sources.end(), [&](const auto& source) {
                const auto found = loading.find(sizes[source.get()] - 1);
                if (found == loading.end()) return false;
                loading.erase(found);
                return true;
            });
        });
    }
    bool recordsOf(const std::string& id, const std::string& status) const {
        for (const auto& record : records.objects()) {
            if (record.stringFor(key::kId) == id && record.stringFor(key::kStatus) == status) {
                return true;
            }
        }
        return false;
    }
    bool queueEmpty() const {
        return std::all_of(added.begin(), added.end(),
                           [](const auto& o) { return o->isFinished(); });
    }
    // Exactly one announcement of kEpisode and one file, holding the body served at path.
    void expectOnlyWinner(const std::string& path) {
        EXPECT_EQ(announcements.strings(), std::vector<std::string>{kEpisode});
        EXPECT_EQ(test::fileNamesIn(folder()), std::vector<std::string>{"Title (01).mp4"});
        EXPECT_EQ(test::readFile(folder() / "Title (01).mp4"), bodies[path]);
    }
    fs::path folder() const { return platform.files.applicationDirectory(); }
    fs::path downloads() const { return platform.files.downloadsDirectory(); }

    test::TestPlatform platform;
    test::LoopbackServer server;
    std::shared_ptr<EpisodeClaims> claims = std::make_shared<EpisodeClaims>();
    std::map<std::string, std::string> bodies;
    std::map<const FileDownload_Auto*, std::int64_t> sizes;
    std::vector<std::shared_ptr<Operation>> added;
    test::NotificationRecorder records{platform.center, notification::kDownloadStatus};
    test::NotificationRecorder announcements{platform.center, notification::kAutoDownloadComplete};
    OperationQueue queue;  // last: destroyed (cancelled and joined) first
};

TEST_F(DownloadConcurrencyTest, CancelDuringDataRemovesThePartialFileQuietly) {
    const auto operation =
        addManual("/movie.mp4", 1, Reply{.body = test::LoopbackServer::pattern(kMiB), .gate = "g"});
    ASSERT_TRUE(test::waitUntil([&] { return recordsOf("1", status::kDownloading); }));
    const auto partials = test::fileNamesIn(downloads());
    ASSERT_EQ(partials.size(), 1u);
    const fs::path partial = downloads() / partials.front();
    operation->cancel();
    // Nothing is posted once cancel() has returned.
    const std::size_t recordsAtCancel = records.objects().size();
    EXPECT_TRUE(operation->isFinished());
    ASSERT_TRUE(test::waitUntil([&] { return queueEmpty(); }));
    EXPECT_FALSE(Files::exists(partial));
    EXPECT_EQ(records.objects().size(), recordsAtCancel);
    EXPECT_TRUE(platform.banners().empty());
    EXPECT_TRUE(platform.log.linesStartingWith("FileDownload -> Download Complete").empty());
}

TEST_F(DownloadConcurrencyTest, CancelAllAtQuitKeepsFinishedDownloads) {
    const auto done = addManual("/done.bin", 1, Reply{.body = "complete file"});
    ASSERT_TRUE(test::waitUntil([&] { return recordsOf("1", status::kComplete); }));
    const auto running = addManual("/running.bin", 2,
                                   Reply{.body = test::LoopbackServer::pattern(kMiB), .gate = "g"});
    ASSERT_TRUE(test::waitUntil([&] { return recordsOf("2", status::kDownloading); }));
    queue.cancelAllOperations();
    done->cancel();  // a cancel that reaches a download after its end
    ASSERT_TRUE(test::waitUntil([&] { return queueEmpty(); }));
    const fs::path downloads = platform.files.downloadsDirectory();
    EXPECT_EQ(test::fileNamesIn(downloads), std::vector<std::string>{"done.bin"});
    EXPECT_EQ(test::readFile(downloads / "done.bin"), "complete file");
    EXPECT_FALSE(recordsOf("2", status::kComplete) || recordsOf("2", status::kError));
    EXPECT_EQ(platform.banners(), (std::vector<Banner>{{"ダウンロード完了", "done.bin"}}));
}

TEST_F(DownloadConcurrencyTest, CancelWhileWaitingEndsWithoutATransfer) {
    queue.setMaxConcurrentOperationCount(1);
    addManual("/first.bin", 1, Reply{.body = "first", .gate = "g"});
    const auto second = addManual("/second.bin", 2, Reply{.body = "second"});
    ASSERT_TRUE(test::waitUntil([&] { return recordsOf("1", status::kDownloading); }));
    second->cancel();
    EXPECT_TRUE(second->isFinished());
    server.openGate("g");
    ASSERT_TRUE(test::waitUntil([&] { return queueEmpty(); }));
    EXPECT_EQ(server.requestCount("/second.bin"), 0u);
    EXPECT_FALSE(recordsOf("2", status::kSetup) || recordsOf("2", status::kError));
    EXPECT_TRUE(recordsOf("1", status::kComplete));
}

TEST_F(DownloadConcurrencyTest, FirstSourceAboveTheThresholdWinsAndCancelsTheOther) {
    const auto winner = addSource("/a.mp4", 6 * kMiB, "a");
    const auto other = addSource("/b.mp4", 7 * kMiB, "b");
    ASSERT_TRUE(atGates({winner, other}));
    server.openGate("a");
    ASSERT_TRUE(test::waitUntil([&] { return queueEmpty(); }));
    EXPECT_TRUE(other->isCancelled());
    EXPECT_FALSE(winner->isCancelled());
    expectOnlyWinner("/a.mp4");
}

TEST_F(DownloadConcurrencyTest, UnsuitableFirstSourceLeavesTheRaceOpen) {
    const auto small = addSource("/small.mp4", 5 * kMiB, "small");
    const auto large = addSource("/large.mp4", 6 * kMiB, "large");
    ASSERT_TRUE(atGates({small, large}));
    server.openGate("small");
    ASSERT_TRUE(test::waitUntil([&] { return small->isFinished(); }));
    EXPECT_EQ(platform.log.linesStartingWith("AutoDownloadSystem -> Unsuitable File: ").size(), 1u);
    EXPECT_TRUE(announcements.strings().empty());
    EXPECT_FALSE(large->isFinished());
    server.openGate("large");
    ASSERT_TRUE(test::waitUntil([&] { return queueEmpty(); }));
    expectOnlyWinner("/large.mp4");
}

TEST_F(DownloadConcurrencyTest, ThreeSourcesLeaveOneFile) {
    const auto small = addSource("/s.mp4", 5 * kMiB, "s");
    const auto winner = addSource("/w.mp4", 6 * kMiB, "w");
    const auto slow = addSource("/l.mp4", 7 * kMiB, "never");
    ASSERT_TRUE(atGates({small, winner, slow}));
    server.openGate("s");
    ASSERT_TRUE(test::waitUntil([&] { return small->isFinished(); }));
    server.openGate("w");
    ASSERT_TRUE(test::waitUntil([&] { return queueEmpty(); }));
    EXPECT_TRUE(slow->isCancelled());
    expectOnlyWinner("/w.mp4");
}

TEST_F(DownloadConcurrencyTest, TwoWinnersAtOnceLeaveExactlyOne) {
    for (int round = 0; round < 4; ++round) {
        const std::string episode = "Round (0" + std::to_string(round + 1) + ")";
        const std::string gate = "go" + std::to_string(round);
        const auto a = addSource("/a" + std::to_string(round), 6 * kMiB, gate, episode);
        const auto b = addSource("/b" + std::to_string(round), 6 * kMiB, gate, episode);
        ASSERT_TRUE(atGates({a, b}));
        server.openGate(gate);
        ASSERT_TRUE(test::waitUntil([&] { return queueEmpty(); }));
        EXPECT_NE(a->isCancelled(), b->isCancelled()) << "round " << round;
        const std::string kept = test::readFile(folder() / (episode + ".mp4"));
        EXPECT_TRUE(kept == bodies["/a" + std::to_string(round)] ||
                    kept == bodies["/b" + std::to_string(round)]);
    }
    EXPECT_EQ(announcements.strings(),
              (std::vector<std::string>{"Round (01)", "Round (02)", "Round (03)", "Round (04)"}));
    EXPECT_EQ(test::fileNamesIn(folder()),
              (std::vector<std::string>{"Round (01).mp4", "Round (02).mp4", "Round (03).mp4",
                                        "Round (04).mp4"}));
}

// The second source passes the size test after the first has claimed the episode but before
// the announcement has reached it: an observer that comes before the sources holds the
// announcement until then.
TEST_F(DownloadConcurrencyTest, SourcePassingAfterTheClaimEndsAsDuplicate) {
    std::shared_ptr<FileDownload_Auto> second;
    int held = 0;
    platform.center.addObserver(&held, notification::kAutoDownloadComplete, [&](const PlistValue&) {
        ++held;
        server.openGate("second");
        test::waitUntil([&] { return second->isFinished(); });
    });
    const auto first = addSource("/first.mp4", 6 * kMiB, "first");
    second = addSource("/second.mp4", 7 * kMiB, "second");
    ASSERT_TRUE(atGates({first, second}));
    server.openGate("first");
    ASSERT_TRUE(test::waitUntil([&] { return queueEmpty(); }));
    platform.center.removeObserver(&held);
    EXPECT_EQ(held, 1);
    EXPECT_TRUE(second->isCancelled());
    EXPECT_EQ(platform.log.linesStartingWith("AutoDownloadSystem -> Download Complete: ").size(),
              1u);
    expectOnlyWinner("/first.mp4");
}

TEST_F(DownloadConcurrencyTest, WinnersOfDifferentEpisodesAtOnceBothAnnounce) {
    const auto one = addSource("/one.mp4", 6 * kMiB, "go", "Title (01)");
    const auto two = addSource("/two.mp4", 6 * kMiB, "go", "Title (02)");
    ASSERT_TRUE(atGates({one, two}));
    server.openGate("go");
    ASSERT_TRUE(test::waitUntil([&] { return queueEmpty(); }));
    auto announced = announcements.strings();
    std::sort(announced.begin(), announced.end());
    EXPECT_EQ(announced, (std::vector<std::string>{"Title (01)", "Title (02)"}));
    EXPECT_EQ(test::fileNamesIn(folder()),
              (std::vector<std::string>{"Title (01).mp4", "Title (02).mp4"}));
}

// Operations come and go while announcements of other episodes are posted from another
// thread: none may reach an operation that is being destroyed.
TEST_F(DownloadConcurrencyTest, OperationsGoWhileAnnouncementsArePosted) {
    std::atomic<bool> stop{false};
    std::thread poster([&] {
        while (!stop) {
            platform.center.post(notification::kAutoDownloadComplete, PlistValue::string("Other"));
            std::this_thread::yield();
        }
    });
    std::vector<std::weak_ptr<FileDownload_Auto>> gone;
    for (int i = 0; i < 40; ++i) {
        auto operation = makeSource(server.url("/missing" + std::to_string(i)), kEpisode);
        gone.push_back(operation);
        queue.addOperation(std::move(operation));
    }
    // The queue lets go of each one once it has ended.
    const bool released = test::waitUntil([&] {
        return std::all_of(gone.begin(), gone.end(), [](const auto& o) { return o.expired(); });
    });
    stop = true;
    poster.join();
    EXPECT_TRUE(released);
    EXPECT_EQ(test::fileNamesIn(folder()), std::vector<std::string>{});
}

}  // namespace
}  // namespace kestrova
