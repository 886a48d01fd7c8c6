#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/plist/UserDefaults.h"
#include "support/RecordingLog.h"
#include "support/TempDir.h"

namespace kestrova {
namespace {

TEST(UserDefaultsConcurrency, WritersOnManyThreadsAllReachTheStore) {
    test::TempDir dir;
    test::RecordingLog log;
    const auto path = dir.path() / "defaults.plist";
    {
        UserDefaults defaults(path, log);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < 10; ++i) {
                    defaults.setObject(PlistValue::integer(i), "key" + std::to_string(t));
                    (void)defaults.objectForKey("key0");
                }
            });
        }
        for (auto& th : threads) th.join();
    }
    UserDefaults reopened(path, log);
    reopened.load();
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(reopened.objectForKey("key" + std::to_string(t)), PlistValue::integer(9));
    }
}

}  // namespace
}  // namespace kestrova
