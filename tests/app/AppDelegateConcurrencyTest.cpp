// Reports from many operation threads at once (also run under ThreadSanitizer). A quit from
// another thread during a stalled fetch is HeadlessProcessTest's.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "app/AppDelegate.h"
#include "platform/StatusBar.h"
#include "platform/menu/MenuItem.h"
#include "support/TestPlatform.h"

namespace kestrova {
namespace {

PlistValue record(int id, const char* status) {
    return PlistValue::dictionary(
        {{"id", PlistValue::string(std::to_string(id))}, {"status", PlistValue::string(status)}});
}

// Operation threads report downloads and finished episodes while the main thread reads and
// deletes finished rows: every episode is recorded, every running row survives.
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
    for (int i = 0; i < 30; ++i, platform.center.post("deleteCompletedItem")) {
        delegate.startAutoDownloadSystem();
        delegate.updateSystemStatusBarMenu();
    }
    for (auto& t : operations) t.join();
    delegate.updateSystemStatusBarMenu();
    const auto& items = platform.statusBar.items().front()->menu()->items();
    EXPECT_EQ(std::count_if(items.begin(), items.end(), [](const auto& i) { return i->tag() > 0; }),
              48);
    PlistValue::Array twelve(13, PlistValue::boolean(true));
    twelve[0] = PlistValue::boolean(false);
    const auto eplst = PlistValue::array(twelve);
    EXPECT_EQ(platform.reopenDefaults()->dictionaryForKey("downloadedEpisodeList"),
              PlistValue::dictionary({{"Foo", eplst}, {"Bar", eplst}}));
    delegate.applicationWillTerminate();
}

}  // namespace
}  // namespace kestrova
