// Synchronous page and list fetches against a loopback server that misbehaves on request:
// error statuses, oversized and stalled bodies, bytes that are not UTF-8, redirects elsewhere.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "platform/net/PageFetch.h"
#include "platform/plist/PlistIO.h"
#include "platform/runtime/Cancellation.h"
#include "support/LoopbackServer.h"
#include "support/ParamName.h"
#include "support/Wait.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;

const std::string kPage = "<title>ソラノカナタ 第5話 HD - ひまわり動画</title>\n";

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class PageFetchTest : public ::testing::Test {
protected:
    void SetUp() override {
        site_.route("/page", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(kPage, "text/html; charset=utf-8");
        });
        // An error page that is valid UTF-8: only the status can refuse it.
        site_.route("/status/(\\d+)", [](const httplib::Request& req, httplib::Response& res) {
            res.status = std::stoi(req.matches[1]);
            res.set_content("<title>error</title>", "text/html");
        });
        site_.route("/latin1", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("caf\xe9\n", "text/html");
        });
        site_.route("/sized/(\\d+)", [](const httplib::Request& req, httplib::Response& res) {
            const auto size = std::stoul(req.matches[1]);
            res.set_content(std::string(size, 'a'), "text/plain");
        });
        // No length announced: only counting the bytes as they come can stop it.
        site_.route("/endless", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain",
                                             [](std::size_t, httplib::DataSink& sink) {
                                                 const std::string chunk(64 * 1024, 'x');
                                                 return sink.write(chunk.data(), chunk.size());
                                             });
        });
        site_.route("/stall", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [this](std::size_t, httplib::DataSink&) {
                stalling_ = true;
                std::unique_lock lock(mutex_);
                released_.wait(lock, [this] { return release_; });
                return false;
            });
        });
        site_.route("/to-page", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/page");
        });
        site_.route("/to-file", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("file:///etc/hostname");
        });
        site_.route("/list.plist", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(readFile(std::string(KESTROVA_TEST_DATA_DIR) + "/dlst.bin.plist"),
                            "application/octet-stream");
        });
        site_.route("/dict.plist", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(*PlistIO::toXml(PlistValue::dictionary()), "application/xml");
        });
        site_.route("/missing.plist", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content(*PlistIO::toXml(PlistValue::array()), "application/xml");
        });
    }

    void TearDown() override {
        {
            std::lock_guard lock(mutex_);
            release_ = true;
        }
        released_.notify_all();
    }

    std::string url(const std::string& path) const { return site_.baseURL() + path; }

    std::mutex mutex_;
    std::condition_variable released_;
    bool release_ = false;
    std::atomic<bool> stalling_{false};
    Cancellation cancel_;
    test::LoopbackServer site_;
};

TEST_F(PageFetchTest, FetchesUtf8TextAndFollowsHttpRedirects) {
    EXPECT_EQ(PageFetch::fetchText(url("/page"), cancel_), kPage);
    EXPECT_EQ(PageFetch::fetchText(url("/to-page"), cancel_), kPage);
}

struct FailingFetch {
    const char* name;
    std::string path;  // appended to the server's base URL unless it holds a scheme
};

class PageFetchFailureTest : public PageFetchTest,
                             public ::testing::WithParamInterface<FailingFetch> {};

TEST_P(PageFetchFailureTest, GivesNothing) {
    const std::string& path = GetParam().path;
    const std::string address = path.find("://") != std::string::npos ? path : url(path);
    EXPECT_EQ(PageFetch::fetchText(address, cancel_), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Cases, PageFetchFailureTest,
                         ::testing::Values(FailingFetch{"NotFoundStatus", "/status/404"},
                                           FailingFetch{"ServerErrorStatus", "/status/500"},
                                           FailingFetch{"NotUtf8", "/latin1"},
                                           FailingFetch{"AnnouncedBodyBeyond32MiB",
                                                        "/sized/33554433"},
                                           FailingFetch{"RedirectToFile", "/to-file"},
                                           FailingFetch{"FileScheme", "file:///etc/hostname"},
                                           FailingFetch{"FtpScheme", "ftp://127.0.0.1/x"},
                                           FailingFetch{"NotAUrl", "just words"},
                                           FailingFetch{"NothingListening", "http://127.0.0.1:9/"}),
                         test::ParamName());

TEST_F(PageFetchTest, BodyOfExactlyTheLimitIsKeptOneMoreByteIsNot) {
    PageFetch::Limits limits;
    limits.maxBytes = 1000;
    EXPECT_EQ(PageFetch::fetchText(url("/sized/1000"), cancel_, limits)->size(), 1000u);
    EXPECT_EQ(PageFetch::fetchText(url("/sized/1001"), cancel_, limits), std::nullopt);
    EXPECT_EQ(PageFetch::fetchText(url("/endless"), cancel_, limits), std::nullopt);
}

TEST_F(PageFetchTest, StalledServerEndsAtTheTotalTimeout) {
    PageFetch::Limits limits;
    limits.totalTimeout = 300ms;
    EXPECT_EQ(PageFetch::fetchText(url("/stall"), cancel_, limits), std::nullopt);
}

// Quitting wakes a fetch that would otherwise wait up to its 60 s timeout; a fetch asked for
// after the quit sends nothing.
TEST_F(PageFetchTest, CancelFromAnotherThreadEndsAStalledFetchAtOnce) {
    std::atomic<bool> done{false};
    std::optional<std::string> page = "unset";
    std::thread fetcher([&] {
        page = PageFetch::fetchText(url("/stall"), cancel_);
        done = true;
    });
    ASSERT_TRUE(test::waitUntil([&] { return stalling_.load(); }));
    cancel_.cancel();
    EXPECT_TRUE(test::waitUntil([&] { return done.load(); }, 20s));
    fetcher.join();
    EXPECT_EQ(page, std::nullopt);
    stalling_ = false;
    EXPECT_EQ(PageFetch::fetchText(url("/stall"), cancel_), std::nullopt);
    EXPECT_FALSE(stalling_);
}

TEST_F(PageFetchTest, PropertyListNeedsAnArrayRootAndASuccessfulStatus) {
    const auto list = PageFetch::fetchPropertyListArray(url("/list.plist"), cancel_);
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(list, PlistIO::readFile(std::string(KESTROVA_TEST_DATA_DIR) + "/dlst.bin.plist"));
    EXPECT_EQ(PageFetch::fetchPropertyListArray(url("/dict.plist"), cancel_), std::nullopt);
    EXPECT_EQ(PageFetch::fetchPropertyListArray(url("/missing.plist"), cancel_), std::nullopt);
    EXPECT_EQ(PageFetch::fetchPropertyListArray(url("/page"), cancel_), std::nullopt);
}

}  // namespace
}  // namespace kestrova
