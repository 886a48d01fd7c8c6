// One libcurl transfer against a loopback server with faults: the order of its events, what it
// stores, and what it never does (overwrite, follow to file://, store an error page).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "download/TestFiles.h"
#include "platform/net/UrlTransfer.h"
#include "support/LoopbackServer.h"
#include "support/ParamName.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;
using Delivery = test::LoopbackServer::Delivery;
using Reply = test::LoopbackServer::Reply;
using test::readFile;

// Records the events as words ("response:<length>", "decide:<name>", "created:<name>", "data"
// once for any number of chunks, "finished", "failed") and answers destinations in its folder.
class RecordingDelegate final : public UrlTransfer::Delegate {
public:
    explicit RecordingDelegate(fs::path folder) : folder_(std::move(folder)) {}

    void transferDidReceiveResponse(std::int64_t length) override {
        add("response:" + std::to_string(length));
    }
    std::string transferDecideDestination(const std::string& suggested) override {
        add("decide:" + suggested);
        return (folder_ / suggested).string();
    }
    void transferDidCreateDestination(const std::string& path) override {
        add("created:" + fs::path(path).filename().string());
    }
    void transferDidReceiveData(std::int64_t length) override {
        std::lock_guard lock(mutex_);
        received_ += length;
        if (events_.empty() || events_.back() != "data") events_.push_back("data");
        noteAfterCancel();
    }
    void transferDidFinish() override { add("finished"); }
    void transferDidFail(const std::string&) override { add("failed"); }

    std::string events() const {
        std::lock_guard lock(mutex_);
        std::string joined;
        for (const auto& e : events_) joined += (joined.empty() ? "" : " ") + e;
        return joined;
    }
    std::int64_t received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }
    std::atomic<bool> cancelReturned{false};
    std::atomic<int> eventsAfterCancel{0};

private:
    void add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
        noteAfterCancel();
    }
    void noteAfterCancel() {
        if (cancelReturned) ++eventsAfterCancel;
    }

    fs::path folder_;
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    std::int64_t received_ = 0;
};

class UrlTransferTest : public ::testing::Test {
protected:
    // Runs a transfer to its end on this thread; false when it could not be created.
    bool run(const std::string& url, UrlTransfer::Options options = {}) {
        std::string error;
        auto transfer = UrlTransfer::create(url, delegate, options, error);
        if (!transfer) return false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (transfer->runSlice(std::chrono::milliseconds(200)) &&
               std::chrono::steady_clock::now() < deadline) {
        }
        created = transfer->createdPath();
        return true;
    }
    test::LoopbackServer server;
    test::TempDir dir;
    RecordingDelegate delegate{dir.path()};
    fs::path created;
};

struct DeliveryCase {
    const char* name;
    Reply reply;
    std::string events;
    bool stored;  // the file holds the (decoded) body, or the redirect target's
};

class UrlTransferDeliveryTest : public UrlTransferTest,
                                public ::testing::WithParamInterface<DeliveryCase> {};

const std::string kBody = test::LoopbackServer::pattern(200 * 1024);
const std::string kText = [] {
    std::string text;
    for (int i = 0; text.size() < 300 * 1024; ++i) text += "line " + std::to_string(i) + "\n";
    return text;
}();

TEST_P(UrlTransferDeliveryTest, DeliversEventsInOrder) {
    server.reply("/final/file.bin", Reply{.body = kBody});
    server.reply("/file.bin", GetParam().reply);
    ASSERT_TRUE(run(server.url("/file.bin")));
    EXPECT_EQ(delegate.events(), GetParam().events);
    if (GetParam().stored) {
        const Reply& reply = GetParam().reply;
        ASSERT_TRUE(fs::is_regular_file(created));
        EXPECT_EQ(readFile(created), reply.status == 302 ? kBody : reply.body);
        EXPECT_EQ(delegate.received(), static_cast<std::int64_t>(readFile(created).size()));
    }
    if (delegate.events().find("created") == std::string::npos) {
        EXPECT_TRUE(test::fileNamesIn(dir.path()).empty()) << "an error page must not be stored";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UrlTransferDeliveryTest,
    ::testing::Values(
        DeliveryCase{"Whole", Reply{.body = kBody},
                     "response:204800 decide:file.bin created:file.bin data finished", true},
        DeliveryCase{"EmptyBodyStillCreatesItsFile", Reply{},
                     "response:0 decide:file.bin created:file.bin finished", true},
        DeliveryCase{
            "SlowDrip",
            Reply{.body = kBody.substr(0, 2048), .delivery = Delivery::Drip, .chunkSize = 256},
            "response:2048 decide:file.bin created:file.bin data finished", true},
        DeliveryCase{"GzipStoredDecoded", Reply{.body = kText, .delivery = Delivery::Gzip},
                     "response:-1 decide:file.bin created:file.bin data finished", true},
        DeliveryCase{"RedirectToHttp",
                     Reply{.status = 302, .headers = {{"Location", "/final/file.bin"}}},
                     "response:204800 decide:file.bin created:file.bin data finished", true},
        DeliveryCase{"RedirectToFtpRefused",
                     Reply{.status = 301, .headers = {{"Location", "ftp://127.0.0.1/x"}}}, "failed",
                     false},
        DeliveryCase{"RedirectLoop", Reply{.status = 302, .headers = {{"Location", "/file.bin"}}},
                     "failed", false},
        DeliveryCase{"DroppedMidBody", Reply{.body = kBody, .delivery = Delivery::DropMidBody},
                     "response:-1 decide:file.bin created:file.bin data failed", false},
        DeliveryCase{"ShorterThanAnnounced", Reply{.body = kBody, .delivery = Delivery::ShortBody},
                     "response:204800 decide:file.bin created:file.bin data failed", false}),
    test::ParamName());

TEST_F(UrlTransferTest, StallFails) {
    server.reply("/stall.bin", Reply{.body = kBody, .delivery = Delivery::Stall});
    UrlTransfer::Options options;
    // Long enough for a loaded machine to deliver the first half, short for the suite.
    options.stallTimeout = std::chrono::seconds(2);
    ASSERT_TRUE(run(server.url("/stall.bin"), options));
    EXPECT_EQ(delegate.events(), "response:204800 decide:stall.bin created:stall.bin data failed");
}

TEST_F(UrlTransferTest, OnlyHttpUrlsCanBeCreated) {
    for (const char* url :
         {"ftp://127.0.0.1/x", "file:///etc/passwd", "not a url", "", "http://"}) {
        std::string error;
        EXPECT_EQ(UrlTransfer::create(url, delegate, {}, error), nullptr) << url;
        EXPECT_FALSE(error.empty()) << url;
    }
    EXPECT_EQ(delegate.events(), "");
}

TEST_F(UrlTransferTest, SendsSpacesAndNonAsciiPercentEncoded) {
    server.reply("/a b/ファイル.bin", Reply{.body = "x"});
    ASSERT_TRUE(run(server.url("/a b/ファイル.bin")));
    EXPECT_EQ(delegate.events(),
              "response:1 decide:ファイル.bin created:ファイル.bin data finished");
    ASSERT_EQ(server.targets().size(), 1u);
    EXPECT_EQ(server.targets()[0], "/a%20b/%E3%83%95%E3%82%A1%E3%82%A4%E3%83%AB.bin");
}

TEST_F(UrlTransferTest, NeverTouchesExistingFilesOrLinks) {
    const fs::path outside = dir.path() / "outside";
    fs::create_directory(outside);
    const fs::path folder = dir.path() / "dl";
    fs::create_directory(folder);
    std::ofstream(folder / "clip.bin") << "old";
    std::ofstream(outside / "target") << "keep";
    fs::create_symlink(outside / "target", folder / "clip (1).bin");
    RecordingDelegate inFolder(folder);
    server.reply("/clip.bin", Reply{.body = kBody});
    std::string error;
    auto transfer = UrlTransfer::create(server.url("/clip.bin"), inFolder, {}, error);
    ASSERT_NE(transfer, nullptr);
    while (transfer->runSlice()) {
    }
    EXPECT_EQ(inFolder.events(),
              "response:204800 decide:clip.bin created:clip (2).bin data finished");
    EXPECT_EQ(readFile(folder / "clip.bin"), "old");
    EXPECT_EQ(readFile(outside / "target"), "keep");
    EXPECT_EQ(readFile(folder / "clip (2).bin"), kBody);
}

TEST_F(UrlTransferTest, ContentDispositionCannotLeaveTheFolder) {
    server.reply(
        "/get",
        Reply{.body = "data",
              .headers = {{"Content-Disposition", "attachment; filename=\"../../escape.sh\""}}});
    ASSERT_TRUE(run(server.url("/get")));
    EXPECT_EQ(delegate.events(), "response:4 decide:escape.sh created:escape.sh data finished");
    EXPECT_EQ(created.parent_path(), dir.path());
}

TEST_F(UrlTransferTest, NoEventFollowsACancelFromAnotherThread) {
    server.reply("/big.bin", Reply{.body = kBody, .gate = "never", .chunkSize = 4096});
    std::string error;
    auto transfer = UrlTransfer::create(server.url("/big.bin"), delegate, {}, error);
    ASSERT_NE(transfer, nullptr);
    // Cancelled while the transfer waits for the last byte: the cancel has to wake it.
    std::thread canceller([&] {
        test::waitUntil(
            [&] { return delegate.received() == static_cast<std::int64_t>(kBody.size() - 1); });
        transfer->cancel();
        delegate.cancelReturned = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (transfer->runSlice() && std::chrono::steady_clock::now() < deadline) {
    }
    canceller.join();
    EXPECT_FALSE(transfer->runSlice());
    EXPECT_EQ(delegate.eventsAfterCancel, 0);
    EXPECT_EQ(delegate.events(), "response:204800 decide:big.bin created:big.bin data");
}

}  // namespace
}  // namespace kestrova
