// What the Qt backend adds that neither a headless test nor the panel shows, on Qt's offscreen
// platform; what the panel, the clipboard and the notification server see is in test_desktop.py.
#include <gtest/gtest.h>

#include <QtWidgets>
#include <atomic>
#include <thread>

#include "platform/qt/QtAlerts.h"
#include "platform/qt/QtMenuMirror.h"
#include "platform/qt/QtPasteboard.h"
#include "platform/qt/QtRunLoop.h"
#include "support/Wait.h"

namespace kestrova::qt {
namespace {

using namespace std::chrono_literals;

// One QApplication for the test program, offscreen and away from its runner's session bus.
struct OffscreenQt : ::testing::Environment {
    void SetUp() override {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
        app_ = std::make_unique<QApplication>(argc_, argv_);
        QApplication::setQuitOnLastWindowClosed(false);  // the alerts are the only windows
    }
    void TearDown() override { app_.reset(); }
    int argc_ = 1;
    char name_[5] = "test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] auto* const kQt = ::testing::AddGlobalTestEnvironment(new OffscreenQt);

bool spinUntil(const std::function<bool()>& condition) {
    return test::waitUntil([&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return condition();
    });
}

TEST(QtMenuMirrorTest, FollowsTheModelInPlaceWithQtsOwnLabels) {
    QMenu qmenu;
    QtMenuMirror mirror(qmenu, QtMenuMirror::Labels::Qt, nullptr);
    Menu model("Main");
    auto paste = std::make_shared<MenuItem>("paste");
    for (auto item : {paste, MenuItem::separatorItem(), std::make_shared<MenuItem>("quit")})
        model.addItem(item);
    mirror.sync(model);
    const QList<QAction*> fixed = qmenu.actions();

    // A download comes below a new separator; Qt reads only "&" as a mark.
    auto download = std::make_shared<MenuItem>("a_b & c.bin\u3000(0.0%)");
    model.insertItem(MenuItem::separatorItem(), 1);
    model.insertItem(download, 2);
    mirror.sync(model);
    ASSERT_EQ(qmenu.actions().size(), 5);
    QAction* row = qmenu.actions()[2];
    EXPECT_EQ(qmenu.actions(),
              (QList<QAction*>{fixed[0], qmenu.actions()[1], row, fixed[1], fixed[2]}));
    EXPECT_EQ(row->text(), "a_b && c.bin\u3000(0.0%)");

    // Progress changes the same action once per change.
    int changes = 0;
    QObject::connect(row, &QAction::changed, [&] { ++changes; });
    download->setTitle("a.bin\u3000(42.5%)");
    mirror.sync(model);
    mirror.sync(model);
    EXPECT_EQ(changes, 1);

    // The rows go; an item moved keeps its action.
    model.removeItemAtIndex(1);
    model.removeItemAtIndex(1);
    mirror.sync(model);
    EXPECT_EQ(qmenu.actions(), fixed);
    model.removeItem(paste);
    model.addItem(paste);
    mirror.sync(model);
    EXPECT_EQ(qmenu.actions(), (QList<QAction*>{fixed[1], fixed[2], fixed[0]}));
}

struct ModalRecorder : QtRunLoop {
    void beginModal() override { ++depth; }
    void endModal() override { --depth; }
    int depth = 0;
};

// Asked from another thread, shown on the main thread; texts as given, never read as markup.
TEST(QtAlertsTest, AnswersAsTheAlertsFormSays) {
    const Alert quit =
        Alert::withDefaultAlternateOther("Kestrova", "終了", "キャンセル", "", "<b>a</b>\nb");
    const Alert three = Alert::withDefaultAlternateOther("Kestrova", "はい", "いいえ", "後で", "x");
    const Alert ok = Alert::withDefaultAlternateOther("Kestrova", "OK", "", "", "最新です。");
    const Alert list =
        Alert::withButtonList("Kestrova", "x", {"OK", "Cancel"}, Alert::Style::Warning);
    // A button's title, "Return", "Escape", or "" to close the box unanswered (as at a quit).
    const std::tuple<Alert, QString, int> rows[] = {
        {quit, "終了", 1}, {three, "後で", -1}, {quit, "Return", 1},    {three, "Escape", 0},
        {three, "", 0},    {ok, "Escape", 1},   {list, "Cancel", 1001}, {list, "Return", 1000}};
    for (const auto& [alert, press, expected] : rows) {
        SCOPED_TRACE(alert.informativeText + " " + press.toStdString());
        ModalRecorder modal;
        QtAlerts alerts(modal);
        int modalWhileShown = -1;
        QTimer driver;
        QObject::connect(&driver, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible()) return;
            driver.stop();
            modalWhileShown = modal.depth;
            EXPECT_EQ(box->informativeText().toStdString(), alert.informativeText);
            EXPECT_EQ(box->findChild<QLabel*>("qt_msgbox_informativelabel")->textFormat(),
                      Qt::PlainText);
            QKeyEvent key(QEvent::KeyPress, press == "Return" ? Qt::Key_Return : Qt::Key_Escape,
                          {});
            if (press == "Return" || press == "Escape") QCoreApplication::sendEvent(box, &key);
            if (press.isEmpty()) box->hide();
            for (QAbstractButton* button : box->buttons())
                if (button->text() == press) button->click();
        });
        driver.start(5ms);
        std::atomic<int> answer = 99;
        std::thread worker([&] { answer = alerts.runModal(alert); });
        spinUntil([&] { return answer != 99; });
        worker.join();
        EXPECT_EQ(std::tuple(answer.load(), modalWhileShown, modal.depth),
                  std::tuple(expected, 1, 0));
    }
}

TEST(QtRunLoopTest, DefaultTimersWaitForTheLastAlertToCloseCommonTimersGoOn) {
    QtRunLoop loop;
    int held = 0, removed = 0, common = 0;
    loop.addTimer(5ms, RunLoopMode::Default, [&] { ++held; });
    const auto gone = loop.addTimer(5ms, RunLoopMode::Default, [&] { ++removed; });
    loop.addTimer(5ms, RunLoopMode::Common, [&] { ++common; });
    loop.beginModal();
    loop.beginModal();  // an alert over an alert
    ASSERT_TRUE(spinUntil([&] { return common >= 10; }));
    loop.endModal();
    ASSERT_TRUE(spinUntil([&] { return common >= 15; }));
    loop.removeTimer(gone);
    const int heldWhileUp = held;
    loop.endModal();
    EXPECT_TRUE(spinUntil([&] { return held > 0 && common >= 20; }));
    EXPECT_EQ(heldWhileUp, 0);
    EXPECT_EQ(removed, 0);
}

TEST(QtPasteboardTest, AClipboardWithoutTextHasNoString) {
    QtPasteboard pasteboard;
    auto* data = new QMimeData;
    data->setData("application/octet-stream", QByteArray("\x01\x02", 2));
    QGuiApplication::clipboard()->setMimeData(data);
    ASSERT_TRUE(spinUntil([&] { return pasteboard.changeCount() > 0; }));
    EXPECT_EQ(pasteboard.string(), std::nullopt);
}

}  // namespace
}  // namespace kestrova::qt
