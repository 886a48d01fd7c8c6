// The coordinator's shared state under reports arriving from many operation threads at once
// (also run under ThreadSanitizer), and a quit from another thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>
#include <vector>

#include "app/AppDelegate.h"
#include "platform/StatusBar.h"
#include "platform/menu/MenuItem.h"
#include "support/LoopbackServer.h"
#include "support/TestPlatform.h"
#include "support/Wait.h"

namespace kestrova {
namespace {

PlistValue record(int id, const char* status) {
    return PlistValue::dictionary(
        {{"id", PlistValue::string(std::to_string(id))}, {"status", PlistValue::string(status)}});
}

// Four operation threads report downloads, two also finished episodes of two titles, while the
// main thread reads the lists and the table and deletes finished rows, as scans and the menu do:
// every episode is recorded and every running row survives in the menu.
TEST(AppDelegateConcurrency, ReportsFromManyThreadsWhileTheMainThreadReadsAndDeletes) {
    test::TestPlatform platform;
    const char* titles[] = {"Foo", "Bar"};
    PlistValue::Array list;
    for (const char* title : titles)
        list.push_back(PlistValue::dictionary({{"title", PlistValue::string(title)}}));
    platform.defaults.setObject(PlistValue::array(list), "autoDownloadList");
    AppDelegate delegate(platform.services);
    delegate.applicationDidFinishLaunching();
    std::vector<std::thread> operations;
    for (int t = 0; t < 4; ++t) {
        operations.emplace_back([&, t] {
            for (int i = 1; i <= 12; ++i) {
                for (const char* status : {"setup", "downloading", "downloading"})
                    platform.center.post("downloadStatus", record(t * 100 + i, status));
                if (t >= 2) continue;
                const std::string number = (i < 10 ? " (0" : " (") + std::to_string(i) + ")";
                platform.center.post("autoDownloadComplete",
                                     PlistValue::string(titles[t] + number));
            }
        });
    }
    for (int i = 0; i < 30; ++i) {
        delegate.startAutoDownloadSystem();
        delegate.updateSystemStatusBarMenu();
        platform.center.post("deleteCompletedItem");
    }
    for (auto& t : operations) t.join();
    delegate.updateSystemStatusBarMenu();
    const auto& items = platform.statusBar.items().front()->menu()->items();
    EXPECT_EQ(std::count_if(items.begin(), items.end(), [](const auto& i) { return i->tag() > 0; }),
              48);
    const auto stored = platform.reopenDefaults()->dictionaryForKey("downloadedEpisodeList");
    ASSERT_TRUE(stored);
    for (const char* title : titles) {
        const auto* flags = stored->find(title)->asArray();
        ASSERT_EQ(flags->size(), 13u) << title;
        for (int episode = 1; episode <= 12; ++episode) EXPECT_TRUE((*flags)[episode].isTrue());
    }
    delegate.applicationWillTerminate();
}

// A list that never comes holds the launch scan on its thread; a quit from another thread wakes
// the fetch well before its own 60 s timeout, and the scan reports nothing after it.
TEST(AppDelegateConcurrency, QuitEndsAScanWaitingForAStalledList) {
    test::LoopbackServer server;
    server.reply("/system/dlst.plist", {.body = std::string(1000, ' '),
                                        .delivery = test::LoopbackServer::Delivery::Stall});
    test::TestPlatform platform(test::TestPlatform::Options{.serverURL = server.baseURL()});
    AppDelegate delegate(platform.services);
    delegate.applicationDidFinishLaunching();
    ASSERT_TRUE(test::waitUntil([&] { return server.requestCount("/system/dlst.plist") == 1; }));
    auto quitting = std::async(std::launch::async, [&] { delegate.applicationWillTerminate(); });
    EXPECT_EQ(quitting.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_TRUE(platform.log.linesStartingWith("AutoDownloadSystem -> Failed to Update").empty());
}

}  // namespace
}  // namespace kestrova
