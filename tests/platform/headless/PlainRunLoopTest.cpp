#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/headless/PlainRunLoop.h"

namespace kestrova {
namespace {

// Work posted from another thread runs on the loop's thread; a quit before run() is not lost,
// and one quit ends one run. While a modal alert is up, default-mode timers are held and
// common-mode timers go on; the held timer fires after the alert closes. A removed timer never
// fires again. One endModal too many does not stop the next alert from holding the timers.
TEST(PlainRunLoop, RunsPostedWorkAndTimersHoldingDefaultModeOnesWhileModal) {
    PlainRunLoop loop;
    std::thread::id ranOn;
    std::thread other(
        [&] { loop.post([&] { ranOn = std::this_thread::get_id(), loop.quit(7); }); });
    const int first = loop.run();
    other.join();
    loop.quit(3);
    const int second = loop.run();
    int common = 0, held = 0, heldDuringModal = 0, removedFired = 0;
    RunLoop::TimerId removed = loop.addTimer(std::chrono::milliseconds(1), RunLoopMode::Common,
                                             [&] { ++removedFired, loop.removeTimer(removed); });
    loop.addTimer(std::chrono::milliseconds(10), RunLoopMode::Default,
                  [&] { ++held, heldDuringModal += common > 0 && common < 10; });
    loop.endModal();
    loop.addTimer(std::chrono::milliseconds(10), RunLoopMode::Common, [&] {
        ++common;
        if (common == 1) loop.beginModal();
        if (common == 10) loop.endModal();
        if (common > 10 && held > 0) loop.quit(4);
    });
    const int third = loop.run();
    EXPECT_EQ(std::vector({first, second, third, heldDuringModal, held > 0 ? 1 : 0, removedFired}),
              std::vector({7, 3, 4, 0, 1, 1}));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

}  // namespace
}  // namespace kestrova
