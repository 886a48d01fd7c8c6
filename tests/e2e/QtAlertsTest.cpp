#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <optional>
#include <thread>

#include "QtTestSession.h"
#include "platform/qt/QtAlerts.h"
#include "support/ParamName.h"

namespace kestrova::qt {
namespace {

using test::spinUntil;

// Counts the modal state QtAlerts reports; nothing else of a run loop is used.
class ModalRecorder : public RunLoop {
public:
    TimerId addTimer(std::chrono::milliseconds, RunLoopMode, Task) override { return 0; }
    void removeTimer(TimerId) override {}
    void post(Task) override {}
    int run() override { return 0; }
    void quit(int) override {}
    void beginModal() override { ++depth; }
    void endModal() override { --depth; }
    int depth = 0;
};

struct SeenBox {
    QString title, text, informative;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    std::vector<QString> buttons;  // sorted
    QString defaultButton;
    int modalDepth = -1;
};

// Waits for the alert, notes what it shows, then presses the button titled `button`, or `key`.
class AlertDriver {
public:
    AlertDriver(QString button, const ModalRecorder& modal, int key = 0) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this, button, key, &modal] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible()) return;
            timer_.stop();
            SeenBox& s = seen.emplace();
            s.title = box->windowTitle();
            s.text = box->text();
            s.informative = box->informativeText();
            if (auto* label = box->findChild<QLabel*>("qt_msgbox_informativelabel")) {
                s.format = label->textFormat();
            }
            s.icon = box->icon();
            for (QAbstractButton* b : box->buttons()) s.buttons.push_back(b->text());
            std::sort(s.buttons.begin(), s.buttons.end());
            if (box->defaultButton() != nullptr) s.defaultButton = box->defaultButton()->text();
            s.modalDepth = modal.depth;
            if (key != 0) {
                QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
                QCoreApplication::sendEvent(box, &event);
                return;
            }
            for (QAbstractButton* b : box->buttons()) {
                if (b->text() == button) b->click();
            }
        });
        timer_.start();
    }
    std::optional<SeenBox> seen;

private:
    QTimer timer_;
};

struct AnswerRow {
    const char* name;
    Alert alert;
    QString button;  // pressed, or the key when empty
    int key;
    int expected;
};

const Alert kQuitAlert =
    Alert::withDefaultAlternateOther("Kestrova", "終了", "キャンセル", "",
                                     "ダウンロードが完了していないアイテムがあります。\n"
                                     "このまま終了しますか？");
const Alert kThreeButtons =
    Alert::withDefaultAlternateOther("Kestrova", "はい", "いいえ", "後で", "<b>x</b>");
const Alert kOk =
    Alert::withDefaultAlternateOther("Kestrova", "OK", "", "", "最新バージョンです。");
const Alert kTwoAdded =
    Alert::withButtonList("Kestrova", "text", {"OK", "Cancel"}, Alert::Style::Warning);

class QtAlertsAnswerTest : public ::testing::TestWithParam<AnswerRow> {};

TEST_P(QtAlertsAnswerTest, AnswersAsTheFormSays) {
    ModalRecorder modal;
    QtAlerts alerts(modal);
    AlertDriver driver(GetParam().button, modal, GetParam().key);
    EXPECT_EQ(alerts.runModal(GetParam().alert), GetParam().expected);
    ASSERT_TRUE(driver.seen.has_value());
    EXPECT_EQ(driver.seen->modalDepth, 1);
    EXPECT_EQ(modal.depth, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, QtAlertsAnswerTest,
    ::testing::Values(AnswerRow{"legacy_default", kQuitAlert, "終了", 0, 1},
                      AnswerRow{"legacy_alternate", kQuitAlert, "キャンセル", 0, 0},
                      AnswerRow{"legacy_other", kThreeButtons, "後で", 0, -1},
                      AnswerRow{"legacy_return_is_default", kQuitAlert, "", Qt::Key_Return, 1},
                      AnswerRow{"legacy_escape_is_alternate", kQuitAlert, "", Qt::Key_Escape, 0},
                      AnswerRow{"lone_ok_escape", kOk, "", Qt::Key_Escape, 1},
                      AnswerRow{"added_first", kTwoAdded, "OK", 0, 1000},
                      AnswerRow{"added_second", kTwoAdded, "Cancel", 0, 1001},
                      AnswerRow{"added_return_is_first", kTwoAdded, "", Qt::Key_Return, 1000}),
    test::ParamName());

TEST(QtAlertsTest, ShowsTheTextsAsGivenWithTheStylesIcon) {
    ModalRecorder modal;
    QtAlerts alerts(modal);
    AlertDriver driver({"終了"}, modal);
    alerts.runModal(kQuitAlert);
    ASSERT_TRUE(driver.seen.has_value());
    EXPECT_EQ(driver.seen->title, "Kestrova");
    EXPECT_EQ(driver.seen->text, "Kestrova");
    EXPECT_EQ(driver.seen->informative.toStdString(), kQuitAlert.informativeText);
    EXPECT_EQ(driver.seen->format, Qt::PlainText) << "markup or lost line breaks";
    EXPECT_EQ(driver.seen->icon, QMessageBox::Warning);
    EXPECT_EQ(driver.seen->buttons, (std::vector<QString>{"キャンセル", "終了"}));
    EXPECT_EQ(driver.seen->defaultButton, "終了");

    AlertDriver second({"OK"}, modal);
    alerts.runModal(
        Alert::withButtonList("Kestrova エラー", "x", {"OK"}, Alert::Style::Informational));
    ASSERT_TRUE(second.seen.has_value());
    EXPECT_EQ(second.seen->icon, QMessageBox::Information);
    EXPECT_EQ(second.seen->buttons, (std::vector<QString>{"OK"}));
}

TEST(QtAlertsTest, AnAlertFromAnotherThreadIsShownOnTheMainThread) {
    ModalRecorder modal;
    QtAlerts alerts(modal);
    AlertDriver driver({"いいえ"}, modal);
    std::atomic<int> answer{99};
    std::thread worker([&] { answer = alerts.runModal(kThreeButtons); });
    const bool answered = spinUntil([&] { return answer != 99; });
    worker.join();
    ASSERT_TRUE(answered);
    EXPECT_EQ(answer, 0);
}

}  // namespace
}  // namespace kestrova::qt
