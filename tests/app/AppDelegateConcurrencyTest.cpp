// The coordinator's shared state under reports arriving from many operation threads at once
// (also run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
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

TEST(AppDelegateConcurrency, EpisodesFinishingAtOnceAreAllRecorded) {
    test::TestPlatform platform;
    platform.defaults.setObject(
        PlistValue::array({PlistValue::dictionary({{"title", PlistValue::string("Foo")}}),
                           PlistValue::dictionary({{"title", PlistValue::string("Bar")}})}),
        "autoDownloadList");
    AppDelegate delegate(platform.services);
    delegate.applicationDidFinishLaunching();

    std::vector<std::thread> finishing;
    for (const char* title : {"Foo", "Bar"}) {
        finishing.emplace_back([&, title] {
            for (int episode = 1; episode <= 12; ++episode) {
                char name[64];
                std::snprintf(name, sizeof name, "%s (%02d)", title, episode);
                platform.center.post("autoDownloadComplete", PlistValue::string(name));
            }
        });
    }
    // The main thread reads the lists and the table meanwhile, as scans and the menu do.
    for (int i = 0; i < 50; ++i) {
        delegate.startAutoDownloadSystem();
        delegate.updateSystemStatusBarMenu();
    }
    for (auto& t : finishing) t.join();

    const auto stored = platform.reopenDefaults()->dictionaryForKey("downloadedEpisodeList");
    ASSERT_TRUE(stored);
    for (const char* title : {"Foo", "Bar"}) {
        const auto* flags = stored->find(title)->asArray();
        ASSERT_EQ(flags->size(), 13u) << title;
        for (int episode = 1; episode <= 12; ++episode) EXPECT_TRUE((*flags)[episode].isTrue());
    }
    delegate.applicationWillTerminate();
}

TEST(AppDelegateConcurrency, StatusReportsFromManyThreadsWhileTheMenuReadsAndDeletes) {
    test::TestPlatform platform;
    AppDelegate delegate(platform.services);
    delegate.applicationDidFinishLaunching();
    auto report = [](int id, const char* status) {
        return PlistValue::dictionary({{"id", PlistValue::string(std::to_string(id))},
                                       {"name", PlistValue::string("f")},
                                       {"percentage", PlistValue::string("0%")},
                                       {"status", PlistValue::string(status)}});
    };
    std::vector<std::thread> operations;
    for (int t = 0; t < 4; ++t) {
        operations.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                const int id = t * 100 + i + 1;
                platform.center.post("downloadStatus", report(id, "setup"));
                platform.center.post("downloadStatus", report(id, "downloading"));
                platform.center.post("downloadStatus", report(id, "downloading"));
            }
        });
    }
    for (int i = 0; i < 30; ++i) {
        delegate.updateSystemStatusBarMenu();
        platform.center.post("deleteCompletedItem");
    }
    for (auto& t : operations) t.join();
    // Running rows survive every delete command: the menu shows all of them (with a last row
    // of the highest id, which the menu walks up to).
    platform.center.post("downloadStatus", report(1000, "setup"));
    delegate.updateSystemStatusBarMenu();
    const auto& items = platform.statusBar.items().front()->menu()->items();
    EXPECT_EQ(std::count_if(items.begin(), items.end(), [](const auto& i) { return i->tag() > 0; }),
              101);
    delegate.applicationWillTerminate();
}

// A list that trickles in (here: never) holds the launch scan on its thread; quitting wakes the
// fetch and waits for the scan, well before the fetch's own 60 s timeout.
TEST(AppDelegateConcurrency, QuitEndsAScanWaitingForAStalledList) {
    using namespace std::chrono_literals;
    test::LoopbackServer server;
    server.reply("/system/dlst.plist", {.body = std::string(1000, ' '),
                                        .delivery = test::LoopbackServer::Delivery::Stall});
    test::TestPlatform::Options options;
    options.serverURL = server.baseURL();
    test::TestPlatform platform(options);
    AppDelegate delegate(platform.services);
    delegate.applicationDidFinishLaunching();
    ASSERT_TRUE(test::waitUntil([&] { return server.requestCount("/system/dlst.plist") == 1; }));

    std::atomic<bool> quit{false};
    std::thread quitting([&] {
        delegate.applicationWillTerminate();
        quit = true;
    });
    EXPECT_TRUE(test::waitUntil([&] { return quit.load(); }, 20s));
    quitting.join();
    EXPECT_TRUE(platform.log.linesStartingWith("AutoDownloadSystem -> Failed to Update").empty());
}

}  // namespace
}  // namespace kestrova
