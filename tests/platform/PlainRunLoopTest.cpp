#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/headless/PlainRunLoop.h"

namespace kestrova {
namespace {

using std::chrono::milliseconds;

TEST(PlainRunLoop, RunsPostedWorkOnItsThreadAndQuits) {
    PlainRunLoop loop;
    std::thread::id ranOn;
    std::thread other([&] {
        loop.post([&] {
            ranOn = std::this_thread::get_id();
            loop.quit(7);
        });
    });
    EXPECT_EQ(loop.run(), 7);
    other.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(PlainRunLoop, QuitBeforeRunIsNotLost) {
    PlainRunLoop loop;
    loop.quit(3);
    EXPECT_EQ(loop.run(), 3);
}

// While a modal alert is up, default-mode timers are held and common-mode timers go on; the
// held timer fires once after the alert closes.
TEST(PlainRunLoop, ModalStateHoldsDefaultModeTimersOnly) {
    PlainRunLoop loop;
    int common = 0;
    int held = 0;
    int heldDuringModal = 0;
    bool modal = false;
    loop.addTimer(milliseconds(10), RunLoopMode::Default, [&] {
        ++held;
        if (modal) ++heldDuringModal;
    });
    loop.addTimer(milliseconds(10), RunLoopMode::Common, [&] {
        ++common;
        if (common == 1) {
            modal = true;
            loop.beginModal();
        } else if (common == 10) {
            modal = false;
            loop.endModal();
        } else if (common > 10 && held > 0) {
            loop.quit(0);
        }
    });
    loop.run();
    EXPECT_EQ(heldDuringModal, 0);
    EXPECT_GE(held, 1);
    EXPECT_GE(common, 11);
}

TEST(PlainRunLoop, RemovedTimerNeverFiresAgain) {
    PlainRunLoop loop;
    int fired = 0;
    RunLoop::TimerId id = 0;
    id = loop.addTimer(milliseconds(1), RunLoopMode::Common, [&] {
        ++fired;
        loop.removeTimer(id);
        loop.addTimer(milliseconds(20), RunLoopMode::Common, [&] { loop.quit(0); });
    });
    loop.run();
    EXPECT_EQ(fired, 1);
}

}  // namespace
}  // namespace kestrova
