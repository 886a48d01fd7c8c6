// One libcurl transfer: its events and the file it writes for each thing the wire does.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "download/TestFiles.h"
#include "platform/net/UrlTransfer.h"
#include "support/LoopbackServer.h"
#include "support/ParamName.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace kestrova {
namespace {

using namespace std::literals;
using Delivery = test::LoopbackServer::Delivery;
using Reply = test::LoopbackServer::Reply;
using Strings = std::vector<std::string>;
constexpr std::size_t kMiB = 1024 * 1024;

// The delegate writes the events down as words (paths relative to its folder, "data" once for a
// run of chunks).
class UrlTransferTest : public ::testing::Test, public UrlTransfer::Delegate {
protected:
    void transferDidReceiveResponse(std::int64_t n) override {
        add("response:" + std::to_string(n));
    }
    std::string transferDecideDestination(const std::string& name) override {
        add("decide:" + name);
        return (dir.path() / name).string();
    }
    void transferDidCreateDestination(const std::string& path) override {
        add("created:" + std::filesystem::path(path).lexically_relative(dir.path()).string());
    }
    void transferDidReceiveData(std::int64_t length) override { received += length, add("data"); }
    void transferDidFinish() override { add("finished"); }
    void transferDidFail(const std::string& reason) override { add("failed:" + reason); }
    void transferDidResume(std::int64_t kept) override {
        received = kept;
        add("resumed:" + std::to_string(kept));
    }
    void add(std::string event) {
        if (cancelled) event = "after-cancel:" + event;
        if (event == "data" && events.ends_with("data")) return;
        events += (events.empty() ? "" : " ") + event;
    }

    test::LoopbackServer server;
    test::TempDir dir;
    std::unique_ptr<UrlTransfer> transfer;
    std::string events;
    std::atomic<std::int64_t> received{0};
    std::atomic<bool> cancelled{false};
};

const std::string kBody = test::LoopbackServer::pattern(200 * 1024);
const std::string kHalf = kBody.substr(0, kBody.size() / 2);
// 1,000 times "x", gzip-compressed.
const std::string kGzipped =
    "\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\xab\xa8\x18\x05\xa3\x60\x14\x0c\x77\x00\x00"
    "\xe6\xc9\x41\x3b\xe8\x03\x00\x00"s;
const std::string kBegun = "response:204800 decide:f created:f (2) data ";

struct Case {
    const char* name;
    Reply reply;
    std::string events;
    std::string stored = "";  // what the new file holds at the end
    std::chrono::milliseconds stallTimeout = 60s;
    std::string path = "/f";
    bool cancelAtTheLastByte = false;  // from another thread, so the cancel has to wake it
};

class UrlTransferCaseTest : public UrlTransferTest, public ::testing::WithParamInterface<Case> {};

// The folder holds "f" and, as "f (1)", a link to a file elsewhere: both names are passed over
// and neither file is touched.
TEST_P(UrlTransferCaseTest, ReportsInOrderAndWritesTheBody) {
    const Case& row = GetParam();
    test::writeFile(dir.path() / "f", "old");
    test::writeFile(dir.path() / "elsewhere", "keep");
    std::filesystem::create_symlink(dir.path() / "elsewhere", dir.path() / "f (1)");
    server.reply(row.path, row.reply);
    server.reply("/to/clip", Reply{.body = kBody});
    std::thread canceller([&] {
        // Data has come, so the transfer has been made: the atomic orders the two.
        if (row.cancelAtTheLastByte &&
            test::waitUntil([&] { return received == std::int64_t{200 * 1024 - 1}; })) {
            transfer->cancel();
            cancelled = true;
        }
    });
    std::string error;
    transfer =
        UrlTransfer::create(server.url(row.path), *this, {.stallTimeout = row.stallTimeout}, error);
    ASSERT_NE(transfer, nullptr) << error;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (transfer->runSlice() && std::chrono::steady_clock::now() < deadline) {
    }
    canceller.join();
    EXPECT_FALSE(transfer->runSlice());
    EXPECT_EQ(events, row.events);
    EXPECT_EQ(test::readFile(dir.path() / "f") + test::readFile(dir.path() / "elsewhere"),
              "oldkeep");
    EXPECT_EQ(test::readFile(transfer->createdPath()), row.stored);
    EXPECT_EQ(received.load(), static_cast<std::int64_t>(row.stored.size()));
    EXPECT_EQ(test::filesIn(dir.path()).size(), transfer->createdPath().empty() ? 3u : 4u);
    // Spaces and non-ASCII bytes go out percent-encoded with upper-case digits.
    for (const std::string& target : server.targets())
        EXPECT_FALSE(std::regex_search(target, std::regex("[^!-~]|%(?![0-9A-F]{2})"))) << target;
}

// A stall of 2 s: long enough for a loaded machine to deliver the first half, short for the suite.
// clang-format off
const Case kCases[] = {
    Case("Whole", {.body = kBody}, kBegun + "finished", kBody),
    Case("EmptyBodyStillMakesItsFile", {}, "response:0 decide:f created:f (2) finished"),
    Case("GzipStoredDecoded", {.body = kGzipped, .headers = {{"Content-Encoding", "gzip"}}}, "response:-1 decide:f created:f (2) data finished", std::string(1000, 'x')),
    Case("RedirectNamedAfterItsTarget", {.status = 302, .headers = {{"Location", "/to/clip"}}}, "response:204800 decide:clip created:clip data finished", kBody),
    Case("NameFromTheHeaderStaysInTheFolder", {.body = "data", .headers = {{"Content-Disposition", "attachment; filename=../x"}}}, "response:4 decide:x created:x data finished", "data"),
    Case("UrlSentPercentEncoded", {.body = "x"}, "response:1 decide:ファイル created:ファイル data finished", "x", 60s, "/a b/ファイル"),
    Case("ErrorPageNotStored", {.status = 404, .body = "<html>404</html>"}, "failed:HTTP response code said error"),
    Case("RedirectAwayFromHttpRefused", {.status = 301, .headers = {{"Location", "ftp://127.0.0.1/x"}}}, "failed:Unsupported protocol"),
    Case("ConnectionDroppedMidBody", {.body = kBody, .delivery = Delivery::ShortBody}, kBegun + "failed:Transferred a partial file", kHalf),
    Case("Stalled", {.body = kBody, .delivery = Delivery::Stall}, kBegun + "failed:nothing received for 2000 ms", kHalf, 2s),
    Case("NoEventAfterACancel", {.body = kBody, .gate = "never"}, kBegun.substr(0, kBegun.size() - 1), kBody.substr(0, kBody.size() - 1), 60s, "/f", true)};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, UrlTransferCaseTest, ::testing::ValuesIn(kCases),
                         test::ParamName());

// A file of 1 MiB split above 64 KiB (pieces of 8 KiB at least) over four connections; its ranges
// break, answer 200, change their ETag or overreach, and the file comes out whole and of one
// version every time.
const std::string kLarge = test::LoopbackServer::pattern(kMiB);
const std::string kOther = test::LoopbackServer::pattern(kMiB + 1).substr(1);
const std::vector<std::pair<std::string, std::string>> kV1{{"ETag", "\"v1\""},
                                                           {"Accept-Ranges", "bytes"}};
const Reply kRanged{.body = kLarge, .headers = kV1, .ranges = true};
// The first reply trickles after its first 64 KiB, so that the split comes before its end.
const Reply kFirst{.body = kLarge,
                   .delivery = Delivery::Trickle,
                   .headers = kV1,
                   .part = 64 * 1024,
                   .trickle = 32 * 1024};
const std::string kWhole = "response:1048576 decide:f created:f data finished";

struct Split {
    const char* name;
    std::vector<Reply> replies;  // in turn
    std::string events = kWhole;
    std::string stored = kLarge;
    std::optional<bool> restarted = false;  // the file was asked for whole once more
    int connections = 4;                    // eight are cancelled while all of them run
};

class UrlTransferSplitTest : public UrlTransferTest, public ::testing::WithParamInterface<Split> {};

// "bytes=a-b" as {a, b}.
std::pair<std::int64_t, std::int64_t> asked(const std::string& range) {
    return {std::stoll(range.substr(6)), std::stoll(range.substr(range.find('-') + 1))};
}

TEST_P(UrlTransferSplitTest, KeepsTheFileWholeAndOfOneVersion) {
    const Split& row = GetParam();
    server.replies("/f", row.replies);
    const bool cancels = row.connections == 8;
    std::thread canceller([&] {
        if (cancels &&
            test::waitUntil([&] { return received > 0 && server.requestCount("/f") >= 8; })) {
            transfer->cancel();
            cancelled = true;
        }
    });
    std::string error;
    transfer = UrlTransfer::create(
        server.url("/f"), *this, {.connections = row.connections, .splitAbove = 64 * 1024}, error);
    ASSERT_NE(transfer, nullptr) << error;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (transfer->runSlice() && std::chrono::steady_clock::now() < deadline) {
    }
    canceller.join();
    EXPECT_EQ(events, row.events);
    const std::string file = test::readFile(dir.path() / "f");
    EXPECT_TRUE(cancels || file == row.stored);
    std::int64_t kept = 0;
    for (const ByteRange& r : transfer->keptRanges()) {
        kept += r.end - r.begin;
        EXPECT_TRUE(file.substr(r.begin, r.end - r.begin) ==
                    row.stored.substr(r.begin, r.end - r.begin));
    }
    EXPECT_EQ(kept, received.load()) << "each byte counted once";
    const Strings ranges = server.headers("/f", "Range"),
                  ifRanges = server.headers("/f", "If-Range");
    const auto wholes = std::count(ranges.begin(), ranges.end(), "");
    EXPECT_GE(std::ssize(ranges) - wholes, row.connections - 1);
    EXPECT_TRUE(!row.restarted || wholes == (*row.restarted ? 2 : 1)) << wholes;
    for (std::size_t i = 0; i < ranges.size(); ++i)
        EXPECT_EQ(ifRanges[i], ranges[i].empty() ? "" : "\"v1\"") << ranges[i];
    // A range that broke is asked again from where it broke, not from its beginning.
    if (row.replies.size() == 3 && row.replies[1].delivery == Delivery::ShortBody) {
        const auto [first, last] = asked(ranges.at(1));
        EXPECT_TRUE(std::any_of(ranges.begin() + 2, ranges.end(), [&](auto& r) {
            return !r.empty() && asked(r).first > first && asked(r).first <= last;
        }));
    }
}

// clang-format off
const Split kSplits[] = {
    {"ByteIdentical", {kFirst, kRanged}},
    {"BrokenRangeResumed", {kFirst, {.body = kLarge, .delivery = Delivery::ShortBody, .headers = kV1, .part = 32 * 1024, .ranges = true}, kRanged}},
    {"ChangedFileStartsAgainOverOne", {kFirst, kRanged, {.body = kOther, .headers = {{"ETag", "\"v2\""}}, .ranges = true}}, "response:1048576 decide:f created:f data response:1048576 resumed:0 data finished", kOther, true},
    {"WholeReplyToARangeGoesOnAlone", {kFirst, {.body = kLarge, .delivery = Delivery::Chunked, .headers = kV1}}},
    // The request running to the end goes on alone, or when it is done the file is asked again.
    {"LongerRangeReplyRefused", {kFirst, {.body = kLarge, .headers = kV1, .ranges = true, .longer = 100}}, kWhole, kLarge, std::nullopt},
    {"CancelledWhileEightRun", {{.body = kLarge, .delivery = Delivery::Trickle, .headers = kV1, .part = 0, .trickle = 1024, .ranges = true}}, "response:1048576 decide:f created:f data", kLarge, false, 8}};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Splits, UrlTransferSplitTest, ::testing::ValuesIn(kSplits),
                         test::ParamName());

// A file with holes asks only for them, each under If-Range, and is whole at the end, also from
// a server whose replies stop short of the asked end (once reported finished with the file
// short); a 200 of another file starts it again.
TEST_F(UrlTransferTest, ResumesOnlyWhatTheFileLacks) {
    constexpr std::int64_t k100 = 100 * 1024;
    Reply capped = kRanged;
    capped.rangeMax = 4 * k100;
    const std::vector<ByteRange> holes{{3 * k100, 4 * k100}, {0, k100}};
    const std::tuple<std::string, std::vector<ByteRange>, Reply, std::string, Strings> rows[] = {
        {"holes",
         holes,
         kRanged,
         "response:1048576 resumed:204800 data finished",
         {"bytes=102400-307199", "bytes=409600-1048575"}},
        {"short",
         {{0, k100}},
         capped,
         "response:1048576 resumed:102400 data finished",
         {"bytes=102400-", "bytes=512000-1048575", "bytes=921600-1048575"}},
        {"changed",
         holes,
         {.body = kOther, .delivery = Delivery::Chunked, .headers = {{"ETag", "\"v2\""}}},
         "response:-1 resumed:0 data finished",
         {"bytes=102400-307199"}}};
    for (const auto& [name, kept, reply, expected, asked] : rows) {
        std::string partial(4 * k100, 'x');
        for (const ByteRange& r : kept)
            partial.replace(r.begin, r.end - r.begin, kLarge.substr(r.begin, r.end - r.begin));
        test::writeFile(dir.path() / name, partial);
        server.reply("/" + name, reply);
        events.clear();
        std::string error;
        transfer = UrlTransfer::create(server.url("/" + name), *this, {}, error,
                                       UrlTransfer::Resume{dir.path() / name, 0, "\"v1\"", kept});
        ASSERT_NE(transfer, nullptr) << error;
        while (transfer->runSlice()) {
        }
        EXPECT_EQ(events, expected);
        const std::string& stored = name == "changed" ? kOther : kLarge;
        EXPECT_TRUE(test::readFile(dir.path() / name) == stored) << name;
        EXPECT_EQ(transfer->keptRanges(), (std::vector<ByteRange>{{0, std::ssize(stored)}}));
        EXPECT_EQ(server.headers("/" + name, "Range"), asked);
        EXPECT_EQ(server.headers("/" + name, "If-Range"), Strings(asked.size(), "\"v1\""));
    }
}

TEST_F(UrlTransferTest, OnlyHttpUrlsCanBeCreated) {
    std::string error;
    for (const char* url : {"file:///etc/passwd", "not a url", "http://"})
        EXPECT_TRUE(!UrlTransfer::create(url, *this, {}, error) &&
                    !std::exchange(error, "").empty())
            << url;
}

}  // namespace
}  // namespace kestrova
