// The notification center under concurrent posts and removals (also run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/runtime/NotificationCenter.h"
#include "support/Wait.h"

namespace kestrova {
namespace {

TEST(NotificationCenter, DeliversToEveryObserverOfTheNameOnThePostingThread) {
    NotificationCenter center;
    int a = 0, b = 0, other = 0;
    std::thread::id seen;
    center.addObserver(&a, "name", [&](const PlistValue& o) {
        a += static_cast<int>(*o.asInteger());
        seen = std::this_thread::get_id();
    });
    center.addObserver(&b, "name", [&](const PlistValue&) { ++b; });
    center.addObserver(&other, "other", [&](const PlistValue&) { ++other; });
    std::thread poster([&] { center.post("name", PlistValue::integer(5)); });
    const auto posterId = poster.get_id();
    poster.join();
    EXPECT_EQ(a, 5);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(other, 0);
    EXPECT_EQ(seen, posterId);
}

TEST(NotificationCenter, RemovalDropsEveryNameOfThatObserver) {
    NotificationCenter center;
    int calls = 0;
    center.addObserver(&calls, "one", [&](const PlistValue&) { ++calls; });
    center.addObserver(&calls, "two", [&](const PlistValue&) { ++calls; });
    center.removeObserver(&calls);
    center.post("one");
    center.post("two");
    EXPECT_EQ(calls, 0);
}

TEST(NotificationCenter, ObserverMayRemoveItselfAndOthersDuringDelivery) {
    NotificationCenter center;
    int first = 0, second = 0;
    center.addObserver(&first, "n", [&](const PlistValue&) {
        ++first;
        center.removeObserver(&first);
        center.removeObserver(&second);
    });
    center.addObserver(&second, "n", [&](const PlistValue&) { ++second; });
    center.post("n");
    center.post("n");
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);  // removed before its turn in the same post
}

TEST(NotificationCenter, PostFromInsideADeliveryIsDelivered) {
    NotificationCenter center;
    int inner = 0;
    center.addObserver(&inner, "inner", [&](const PlistValue&) { ++inner; });
    center.addObserver(&center, "outer", [&](const PlistValue&) { center.post("inner"); });
    center.post("outer");
    EXPECT_EQ(inner, 1);
}

TEST(NotificationCenter, ManyThreadsPostAtOnce) {
    NotificationCenter center;
    std::atomic<int> received{0};
    center.addObserver(&received, "tick", [&](const PlistValue&) { received.fetch_add(1); });
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) center.post("tick");
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(received.load(), 4000);
}

// Once removeObserver has returned, the observer is never called again, even while another
// thread is in the middle of delivering to it.
TEST(NotificationCenter, RemovalWaitsForADeliveryRunningOnAnotherThread) {
    NotificationCenter center;
    std::atomic<bool> inside{false};
    std::atomic<bool> release{false};
    std::atomic<bool> finished{false};
    std::atomic<int> callsAfterRemoval{0};
    std::atomic<bool> removed{false};
    center.addObserver(&inside, "slow", [&](const PlistValue&) {
        if (removed.load()) callsAfterRemoval.fetch_add(1);
        inside.store(true);
        while (!release.load()) std::this_thread::yield();
        finished.store(true);
    });
    std::thread poster([&] { center.post("slow"); });
    ASSERT_TRUE(test::waitUntil([&] { return inside.load(); }));
    std::thread remover([&] {
        center.removeObserver(&inside);
        // The delivery in progress must have ended before the removal returned.
        EXPECT_TRUE(finished.load());
        removed.store(true);
    });
    release.store(true);
    remover.join();
    poster.join();
    center.post("slow");
    EXPECT_EQ(callsAfterRemoval.load(), 0);
}

TEST(NotificationCenter, RemovalsAndPostsRaceWithoutLosingOrCallingRemovedObservers) {
    NotificationCenter center;
    constexpr int kObservers = 64;
    std::vector<std::atomic<bool>> removedFlags(kObservers);
    std::atomic<int> violations{0};
    std::vector<int> tokens(kObservers);
    for (int i = 0; i < kObservers; ++i) {
        center.addObserver(&tokens[i], "race", [&, i](const PlistValue&) {
            if (removedFlags[i].load()) violations.fetch_add(1);
        });
    }
    std::atomic<bool> stop{false};
    std::vector<std::thread> posters;
    for (int t = 0; t < 3; ++t) {
        posters.emplace_back([&] {
            while (!stop.load()) center.post("race");
        });
    }
    for (int i = 0; i < kObservers; ++i) {
        center.removeObserver(&tokens[i]);
        removedFlags[i].store(true);
    }
    stop.store(true);
    for (auto& t : posters) t.join();
    EXPECT_EQ(violations.load(), 0);
}

}  // namespace
}  // namespace kestrova
