#include <gtest/gtest.h>
#include <signal.h>

#include <QDBusConnectionInterface>
#include <QTimer>

#include "QtTestSession.h"
#include "platform/qt/TrayHostWatcher.h"
#include "support/RecordingLog.h"

namespace kestrova::qt {
namespace {

using test::spinUntil;

const char* const kWaiting =
    "TrayHostWatcher -> Waiting for a panel that shows status items "
    "(org.kde.StatusNotifierWatcher).";

TEST(TrayHostWatcherTest, APanelThatIsThereAnswersAtOnce) {
    const auto panel = test::startFakeService("fake_status_notifier_watcher.py", {});
    ASSERT_TRUE(panel);
    test::RecordingLog log;
    TrayHostWatcher watcher(QDBusConnection::sessionBus(), log);
    int ready = 0;
    watcher.whenHostAvailable([&] { ++ready; });
    EXPECT_EQ(ready, 1);
    EXPECT_FALSE(log.contains(kWaiting));
}

TEST(TrayHostWatcherTest, WaitsForThePanelToAppear) {
    test::RecordingLog log;
    TrayHostWatcher watcher(QDBusConnection::sessionBus(), log);
    int ready = 0;
    watcher.whenHostAvailable([&] { ++ready; });
    EXPECT_EQ(ready, 0);
    EXPECT_EQ(log.lines(), std::vector<std::string>{kWaiting});

    auto panel = test::startFakeService("fake_status_notifier_watcher.py", {});
    ASSERT_TRUE(panel);
    ASSERT_TRUE(spinUntil([&] { return ready == 1; }));
    // Once only, whatever the bus says later: a panel that restarts is Qt's to follow.
    panel.reset();
    panel = test::startFakeService("fake_status_notifier_watcher.py", {});
    ASSERT_TRUE(panel);
    // A call to the bus comes back after the bus's earlier news of the new owner has arrived;
    // one more turn of the loop delivers that news.
    ASSERT_TRUE(QDBusConnection::sessionBus().interface()->isServiceRegistered(
        "org.kde.StatusNotifierWatcher"));
    bool turnDone = false;
    QTimer::singleShot(0, [&] { turnDone = true; });
    ASSERT_TRUE(spinUntil([&] { return turnDone; }));
    EXPECT_EQ(ready, 1);
}

TEST(TrayHostWatcherTest, AWatcherWithoutHostIsWaitedFor) {
    const auto panel = test::startFakeService("fake_status_notifier_watcher.py", {"--no-host"});
    ASSERT_TRUE(panel);
    test::RecordingLog log;
    TrayHostWatcher watcher(QDBusConnection::sessionBus(), log);
    EXPECT_FALSE(watcher.hostAvailable());
    int ready = 0;
    watcher.whenHostAvailable([&] { ++ready; });
    EXPECT_EQ(ready, 0);
    EXPECT_TRUE(log.contains(kWaiting));
    panel->signal(SIGUSR1);  // the panel's host registers
    ASSERT_TRUE(spinUntil([&] { return ready == 1; }));
}

}  // namespace
}  // namespace kestrova::qt
