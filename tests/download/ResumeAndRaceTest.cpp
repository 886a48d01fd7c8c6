// Broken transfers asking for the rest, trickling sources given up, and a race whose leader dies,
// against loopback sources that answer Range requests as the row says.
#include <gtest/gtest.h>

#include "download/FileDownload.h"
#include "download/FileDownload_Auto.h"
#include "download/NotificationRecorder.h"
#include "download/TestFiles.h"
#include "messages/Notifications.h"
#include "platform/runtime/OperationQueue.h"
#include "support/LoopbackServer.h"
#include "support/ParamName.h"
#include "support/TestPlatform.h"
#include "support/Wait.h"

namespace kestrova {
namespace {

using namespace std::literals;
using Strings = std::vector<std::string>;
constexpr std::size_t kMiB = 1024 * 1024;
constexpr const char* kETag = "\"v1\"";

// How a source answers a request for the rest ("Range: bytes=N-").
enum class Rest { Partial, Whole, WrongRange, NotFound };

// A source on the loopback server. Its first answer sends `first` bytes of the body at once, then
// `trickle` bytes every 20 ms until dropped, or closes the connection at once when it does not
// trickle. A request for the rest is answered as `rest` says, at full speed, unless
// `breakEveryTime`: then it breaks again after 64 KiB more.
class Source {
public:
    struct Setup {
        std::size_t size = 2 * kMiB;
        std::size_t first = kMiB;
        std::size_t trickle = 0;
        Rest rest = Rest::Partial;
        bool breakEveryTime = false;
    };
    // The seed shifts the pattern, so that two sources' bytes differ.
    Source(Setup setup, std::size_t seed)
        : body(test::LoopbackServer::pattern(setup.size + seed).substr(seed)), setup_(setup) {}
    // Made before the server and so gone after it: no answer outlives the source.
    void serveOn(test::LoopbackServer& server, const std::string& path) {
        server.route(path, [this](const auto& request, auto& out) { answer(request, out); });
    }
    ~Source() { drop(); }
    void drop() {
        std::lock_guard lock(mutex_);
        dropped_ = true;
        wake_.notify_all();
    }
    Strings ranges() const {
        std::lock_guard lock(mutex_);
        return ranges_;
    }
    const std::string body;

private:
    void answer(const httplib::Request& request, httplib::Response& response) {
        const std::string range = request.get_header_value("Range");
        {
            std::lock_guard lock(mutex_);
            ranges_.push_back(range +
                              (range.empty() ? "" : " " + request.get_header_value("If-Range")));
        }
        response.set_header("ETag", kETag);
        std::size_t from = 0;
        if (!range.empty()) {
            from = std::stoul(range.substr(6));  // "bytes=N-"
            if (setup_.rest == Rest::NotFound) return void(response.status = 404);
            if (setup_.rest == Rest::Whole) from = 0;
            if (setup_.rest != Rest::Whole) {
                response.status = 206;
                const std::size_t said = setup_.rest == Rest::WrongRange ? from + 1 : from;
                response.set_header("Content-Range", "bytes " + std::to_string(said) + "-" +
                                                         std::to_string(body.size() - 1) + "/" +
                                                         std::to_string(body.size()));
            }
        }
        const bool breaks = range.empty() || setup_.breakEveryTime;
        auto send = [this, from, breaks](std::size_t offset, httplib::DataSink& sink) {
            const std::size_t at = from + offset;
            const std::size_t burst = from == 0 ? setup_.first : from + 64 * 1024;
            if (at == body.size()) {
                sink.done();
                return true;
            }
            if (!breaks) return sink.write(body.data() + at, body.size() - at);
            if (at < burst) return sink.write(body.data() + at, burst - at);
            std::unique_lock lock(mutex_);
            if (setup_.trickle == 0 || wake_.wait_for(lock, 20ms, [&] { return dropped_; })) {
                return false;  // the connection closes early
            }
            lock.unlock();
            return sink.write(body.data() + at, std::min(setup_.trickle, body.size() - at));
        };
        if (range.empty()) {
            return response.set_content_provider(
                body.size(), "video/mp4",
                [send](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    return send(offset, sink);
                });
        }
        // Chunked, so that the server library leaves the range to this source.
        if (setup_.rest == Rest::Whole) response.status = 200;
        response.set_chunked_content_provider("video/mp4", send);
    }

    const Setup setup_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool dropped_ = false;
    Strings ranges_;
};

struct ResumeRow {
    const char* name;
    Source::Setup source;
    UrlTransfer::Options options;
    bool finished;
    std::size_t requests;  // the first and those for the rest
};

class ResumeTest : public ::testing::TestWithParam<ResumeRow> {};

// A manual download that breaks after 1 MiB of 2: what it asks for the rest, what it keeps, and
// its progress, which goes on from where it was and never back.
TEST_P(ResumeTest, AsksForTheRestAndKeepsOnlyAWholeFile) {
    const ResumeRow& row = GetParam();
    test::TestPlatform platform;
    const test::NotificationRecorder records(platform.center, notification::kDownloadStatus);
    Source source(row.source, 1);
    test::LoopbackServer server;
    source.serveOn(server, "/clip.mp4");
    FileDownload download(platform.services, server.url("/clip.mp4"), 1, row.options);
    download.start();

    // Each request for the rest names what the download kept: its first part (and what trickled
    // in), then 64 KiB more after each further break.
    Strings asked = source.ranges(), expected{""};
    for (std::size_t i = 1; i < asked.size(); ++i) {
        const std::size_t kept = std::stoul(asked[i].substr(6));
        EXPECT_TRUE(row.source.trickle > 0 ? kept > kMiB : kept == kMiB + (i - 1) * 64 * 1024);
        expected.push_back("bytes=" + std::to_string(kept) + "- " + kETag);
    }
    EXPECT_EQ(asked, expected);
    EXPECT_EQ(asked.size(), row.requests);
    const auto folder = platform.files.downloadsDirectory();
    EXPECT_TRUE(test::readFile(folder / "clip.mp4") == (row.finished ? source.body : ""));
    EXPECT_EQ(test::filesIn(folder).size(), row.finished ? 1u : 0u);
    EXPECT_EQ(records.objects().back().stringFor(key::kStatus),
              row.finished ? "complete" : "error");
    double shown = 0;
    for (const PlistValue& record : records.objects()) {
        if (record.stringFor(key::kStatus) != "downloading") continue;
        const double percent = std::stod(record.stringFor(key::kPercentage));
        EXPECT_GE(percent, row.source.rest == Rest::Partial ? shown : 0);
        shown = percent;
    }
}

const ResumeRow kResumeRows[] = {
    {"PartialContinuesTheFile", {}, {}, true, 2},
    {"WholeStartsAgain", {.rest = Rest::Whole}, {}, true, 2},
    {"WrongRangeFails", {.rest = Rest::WrongRange}, {}, false, 2},
    {"RefusalFails", {.rest = Rest::NotFound}, {}, false, 2},
    {"ThreeTimesAtMost", {.breakEveryTime = true}, {}, false, 4},
    // 1 KiB every 20 ms is under 64 KiB a second: given up like a stall, then resumed.
    {"TrickleGivenUp",
     {.trickle = 1024},
     {.trickleWindow = 300ms, .trickleBytes = 64 * 1024},
     true,
     2}};

INSTANTIATE_TEST_SUITE_P(Rows, ResumeTest, ::testing::ValuesIn(kResumeRows), test::ParamName());

// Two sources of an episode: the faster leads after the probe and the other waits with its part
// kept; when the leader's connection drops and its rest is refused, the other takes over from
// its own part and wins. The bytes of the two never mix.
TEST(EpisodeRace, AWaitingSourceTakesOverWhenTheLeaderDies) {
    test::TestPlatform platform;
    const test::NotificationRecorder announced(platform.center,
                                               notification::kAutoDownloadComplete);
    // The leader's 6 MiB at once against the other's 1 KiB every 20 ms: the probe decides.
    Source leader({.size = 8 * kMiB, .first = 6 * kMiB, .trickle = 4096, .rest = Rest::NotFound},
                  1);
    Source follower({.size = 8 * kMiB, .first = 0, .trickle = 1024}, 2);
    test::LoopbackServer server;
    leader.serveOn(server, "/lead");
    follower.serveOn(server, "/follow");
    const auto claims = std::make_shared<EpisodeClaims>();
    const PlistValue episode = PlistValue::dictionary(
        {{key::kFile, PlistValue::string("Title (01)")}, {key::kTime, PlistValue::integer(1)}});
    OperationQueue queue;
    const auto lead = std::make_shared<FileDownload_Auto>(platform.services, server.url("/lead"),
                                                          episode, claims);
    const auto follow = std::make_shared<FileDownload_Auto>(platform.services,
                                                            server.url("/follow"), episode, claims);
    queue.addOperation(lead);
    queue.addOperation(follow);
    ASSERT_TRUE(test::waitUntil([&] {
        return platform.log.linesStartingWith("AutoDownloadSystem -> Waiting").size() == 1;
    }));
    leader.drop();
    ASSERT_TRUE(test::waitUntil([&] { return lead->isFinished() && follow->isFinished(); }));

    EXPECT_EQ(announced.strings(), Strings{"Title (01)"});
    EXPECT_EQ(test::filesIn(platform.files.applicationDirectory()),
              (std::map<std::string, std::uintmax_t>{{"Title (01).mp4", 8 * kMiB}}));
    EXPECT_TRUE(test::readFile(platform.files.applicationDirectory() / "Title (01).mp4") ==
                follower.body);
    EXPECT_EQ(follower.ranges().size(), 2u) << "its first request and one for its rest";
    EXPECT_EQ(leader.ranges().size(), 2u) << "its first request and one refused";
    EXPECT_EQ(platform.log.linesStartingWith("AutoDownloadSystem -> Taking Over").size(), 1u);
}

}  // namespace
}  // namespace kestrova
