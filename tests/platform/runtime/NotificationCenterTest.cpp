#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/runtime/NotificationCenter.h"
#include "support/Wait.h"

namespace kestrova {
namespace {

// Delivered before post() returns, on the posting thread, to every observer of the name; a post
// from inside a delivery is delivered too; an observer may remove itself and one not yet called
// in the same post.
TEST(NotificationCenter, DeliversByNameOnThePostingThread) {
    NotificationCenter center;
    int a = 0, b = 0, other = 0, inner = 0;
    std::thread::id seen;
    center.addObserver(&a, "name", [&](const PlistValue& o) {
        a += static_cast<int>(*o.asInteger());
        seen = std::this_thread::get_id();
        center.post("inner");
        center.removeObserver(&a);
        center.removeObserver(&b);
    });
    center.addObserver(&b, "name", [&](const PlistValue&) { ++b; });
    center.addObserver(&other, "other", [&](const PlistValue&) { ++other; });
    center.addObserver(&inner, "inner", [&](const PlistValue&) { ++inner; });
    std::thread poster([&] {
        center.post("name", PlistValue::integer(5));
        center.post("name", PlistValue::integer(5));
    });
    const auto posterId = poster.get_id();
    poster.join();
    EXPECT_EQ(std::vector<int>({a, b, other, inner}), std::vector<int>({5, 0, 0, 1}));
    EXPECT_EQ(seen, posterId);
}

// Once removeObserver has returned, the observer is never called again, even while another
// thread is in the middle of delivering to it: the removal waits for that delivery (also TSan).
TEST(NotificationCenter, RemovalWaitsForADeliveryRunningOnAnotherThread) {
    NotificationCenter center;
    std::atomic<bool> inside{false}, release{false}, finished{false}, removed{false};
    std::atomic<int> callsAfterRemoval{0};
    center.addObserver(&inside, "slow", [&](const PlistValue&) {
        callsAfterRemoval += removed ? 1 : 0;
        inside = true;
        while (!release) std::this_thread::yield();
        finished = true;
    });
    std::thread poster([&] { center.post("slow"); });
    ASSERT_TRUE(test::waitUntil([&] { return inside.load(); }));
    std::thread remover([&] {
        center.removeObserver(&inside);
        EXPECT_TRUE(finished.load());
        removed = true;
    });
    release = true;
    remover.join();
    poster.join();
    center.post("slow");
    EXPECT_EQ(callsAfterRemoval.load(), 0);
}

}  // namespace
}  // namespace kestrova
