#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <thread>

#include "QtTestSession.h"
#include "platform/qt/QtRunLoop.h"

namespace kestrova::qt {
namespace {

using namespace std::chrono_literals;
using test::spinUntil;

TEST(QtRunLoopTest, PostFromAnotherThreadRunsOnTheMainThread) {
    QtRunLoop loop;
    QThread* ranOn = nullptr;
    std::thread poster([&] { loop.post([&] { ranOn = QThread::currentThread(); }); });
    poster.join();
    ASSERT_TRUE(spinUntil([&] { return ranOn != nullptr; }));
    EXPECT_EQ(ranOn, QCoreApplication::instance()->thread());
}

TEST(QtRunLoopTest, QuitFromAnotherThreadEndsRunWithItsCode) {
    QtRunLoop loop;
    std::thread quitter;
    loop.addTimer(1ms, RunLoopMode::Default, [&] {
        if (!quitter.joinable()) quitter = std::thread([&] { loop.quit(7); });
    });
    EXPECT_EQ(loop.run(), 7);
    ASSERT_TRUE(quitter.joinable());
    quitter.join();
}

TEST(QtRunLoopTest, QuitBeforeRunEndsItAtOnce) {
    QtRunLoop loop;
    loop.quit(3);
    EXPECT_EQ(loop.run(), 3);
}

TEST(QtRunLoopTest, DefaultTimersWaitForTheAlertCommonTimersGoOn) {
    QtRunLoop loop;
    int defaultTicks = 0;
    int commonTicks = 0;
    loop.addTimer(5ms, RunLoopMode::Default, [&] { ++defaultTicks; });
    loop.addTimer(5ms, RunLoopMode::Common, [&] { ++commonTicks; });

    loop.beginModal();
    loop.beginModal();  // nested alerts
    const int commonBefore = commonTicks;
    ASSERT_TRUE(spinUntil([&] { return commonTicks >= commonBefore + 10; }));
    loop.endModal();
    const int stillCommon = commonTicks;
    ASSERT_TRUE(spinUntil([&] { return commonTicks >= stillCommon + 5; }));
    const int heldAt = defaultTicks;
    loop.endModal();
    EXPECT_TRUE(spinUntil([&] { return defaultTicks > heldAt; }));
    EXPECT_EQ(heldAt, 0) << "a default-mode timer fired while an alert was up";
}

TEST(QtRunLoopTest, AHeldTimerRemovedDuringTheAlertNeverFires) {
    QtRunLoop loop;
    int removedTicks = 0;
    int commonTicks = 0;
    const auto removed = loop.addTimer(2ms, RunLoopMode::Default, [&] { ++removedTicks; });
    loop.addTimer(2ms, RunLoopMode::Common, [&] { ++commonTicks; });
    loop.beginModal();
    ASSERT_TRUE(spinUntil([&] { return commonTicks >= 5; }));
    loop.removeTimer(removed);
    loop.endModal();
    const int after = commonTicks;
    ASSERT_TRUE(spinUntil([&] { return commonTicks >= after + 5; }));
    EXPECT_EQ(removedTicks, 0);
}

TEST(QtRunLoopTest, ATimerDoesNotFireAgainWhileItsCallbackRuns) {
    QtRunLoop loop;
    int depth = 0;
    int deepest = 0;
    int calls = 0;
    int otherTicks = 0;
    loop.addTimer(2ms, RunLoopMode::Common, [&] { ++otherTicks; });
    loop.addTimer(2ms, RunLoopMode::Common, [&] {
        ++calls;
        deepest = std::max(deepest, ++depth);
        if (calls == 1) {
            // Like an alert shown from a timer: a nested event loop inside the callback.
            const int start = otherTicks;
            spinUntil([&] { return otherTicks >= start + 10; });
        }
        --depth;
    });
    ASSERT_TRUE(spinUntil([&] { return calls >= 3; }));
    EXPECT_EQ(deepest, 1);
}

TEST(QtRunLoopTest, ATimerMayRemoveItselfFromItsCallback) {
    QtRunLoop loop;
    int ticks = 0;
    RunLoop::TimerId self = 0;
    self = loop.addTimer(1ms, RunLoopMode::Default, [&] {
        ++ticks;
        loop.removeTimer(self);
    });
    int otherTicks = 0;
    loop.addTimer(1ms, RunLoopMode::Default, [&] { ++otherTicks; });
    ASSERT_TRUE(spinUntil([&] { return otherTicks >= 10; }));
    EXPECT_EQ(ticks, 1);
}

}  // namespace
}  // namespace kestrova::qt
