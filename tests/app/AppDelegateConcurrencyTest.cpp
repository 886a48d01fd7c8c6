// The coordinator's shared state under reports arriving from many operation threads at once
// (also run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "app/AppDelegate.h"
#include "support/TestPlatform.h"

namespace kestrova {
namespace {

TEST(AppDelegateConcurrency, EpisodesFinishingAtOnceAreAllRecorded) {
    test::TestPlatform platform;
    platform.defaults->setObject(
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
    // The main thread reads the lists and the table meanwhile, as menus and scans do.
    for (int i = 0; i < 50; ++i) {
        (void)delegate.episodeList();
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
                const int id = t * 100 + i;
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
    // Running rows survive every delete command.
    EXPECT_EQ(delegate.downloadStatusTable().size(), 100u);
    delegate.applicationWillTerminate();
}

}  // namespace
}  // namespace kestrova
