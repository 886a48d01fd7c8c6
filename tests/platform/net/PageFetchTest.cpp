// Page fetches against a loopback server that misbehaves on request. The list fetch's refusals
// show in the scan tests.
#include <gtest/gtest.h>

#include <future>

#include "platform/net/PageFetch.h"
#include "platform/runtime/Cancellation.h"
#include "support/LoopbackServer.h"
#include "support/Wait.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;
using Server = test::LoopbackServer;
using Reply = Server::Reply;

TEST(PageFetchTest, GivesTheWholeUtf8BodyOfASuccessfulHttpFetchOrNothing) {
    const std::string page = "<title>ソラノカナタ 第5話</title>\n", a1000(1000, 'a');
    // An error page that is valid UTF-8: only the status can refuse it. Without a length
    // announced only counting the bytes as they come can stop a body over the limit.
    // clang-format off
    const std::tuple<const char*, std::string, Reply, std::optional<std::string>> rows[] = {
        {"Page", "", {.body = page}, page},
        {"RedirectWithinHttp", "", {.status = 302, .headers = {{"Location", "/page"}}}, page},
        {"ErrorStatus", "", {.status = 400, .body = page}, {}},
        {"NotUtf8", "", {.body = "caf\xe9\n"}, {}},
        {"BodyOfTheLimit", "", {.body = a1000}, a1000},
        {"UnannouncedBodyOverTheLimit", "", {.body = a1000 + "a", .delivery = Server::Delivery::Chunked}, {}},
        {"RedirectToAFile", "", {.status = 302, .headers = {{"Location", "file:///etc/hostname"}}}, {}},
        {"FileScheme", "file:///etc/hostname", {}, {}}};
    // clang-format on
    Cancellation cancel;
    for (const auto& [name, address, reply, text] : rows) {
        Server server;
        server.reply("/page", {.body = page});
        server.reply("/x", reply);
        const std::string url = address.empty() ? server.url("/x") : address;
        EXPECT_EQ(PageFetch::fetchText(url, cancel, {.maxBytes = 1000}), text) << name;
    }
}

// A stalled fetch ends at its total timeout, or at once when the program quits from another
// thread; a fetch asked for after the quit sends nothing.
TEST(PageFetchTest, StalledFetchEndsAtTheTimeoutOrAtAQuit) {
    Server server;
    server.reply("/stall", {.body = "<p>stalled</p>", .delivery = Server::Delivery::Stall});
    Cancellation cancel;
    EXPECT_EQ(PageFetch::fetchText(server.url("/stall"), cancel, {.totalTimeout = 300ms}),
              std::nullopt);
    auto fetch = std::async(std::launch::async, [&] {
        return PageFetch::fetchText(server.url("/stall"), cancel);  // 60 s
    });
    EXPECT_TRUE(test::waitUntil([&] { return server.requestCount("/stall") == 2; }));
    cancel.cancel();
    ASSERT_EQ(fetch.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(fetch.get(), std::nullopt);
    EXPECT_EQ(PageFetch::fetchText(server.url("/stall"), cancel), std::nullopt);
    EXPECT_EQ(server.requestCount("/stall"), 2u);
}

}  // namespace
}  // namespace kestrova
