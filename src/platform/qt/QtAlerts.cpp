#include "platform/qt/QtAlerts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <utility>
#include <vector>

namespace kestrova::qt {

namespace {

QMessageBox::Icon iconFor(Alert::Style style) {
    switch (style) {
        case Alert::Style::Warning:
            return QMessageBox::Warning;
        case Alert::Style::Critical:
            return QMessageBox::Critical;
        case Alert::Style::Informational:
            break;
    }
    return QMessageBox::Information;
}

// The buttons to add, in order, each with the index whose answer it gives. A
// default/alternate/other alert leaves out the buttons it has no title for, except the default,
// which is "OK" when untitled.
std::vector<std::pair<std::size_t, QString>> buttonsOf(const Alert& alert) {
    std::vector<std::pair<std::size_t, QString>> out;
    for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
        QString title = QString::fromStdString(alert.buttons[i]);
        if (alert.shape == Alert::Shape::DefaultAlternateOther && title.isEmpty()) {
            if (i != 0) continue;
            title = QStringLiteral("OK");
        }
        out.emplace_back(i, title);
    }
    if (out.empty()) out.emplace_back(0, QStringLiteral("OK"));
    return out;
}

QMessageBox::ButtonRole roleFor(const Alert& alert, std::size_t index) {
    if (index == 0) return QMessageBox::AcceptRole;
    if (alert.shape == Alert::Shape::DefaultAlternateOther && index == 2)
        return QMessageBox::ActionRole;
    return QMessageBox::RejectRole;
}

}  // namespace

int QtAlerts::runModal(const Alert& alert) {
    auto* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread()) return runOnMainThread(alert);
    int answer = alert.defaultReturnCode();
    QMetaObject::invokeMethod(
        app, [&] { answer = runOnMainThread(alert); }, Qt::BlockingQueuedConnection);
    return answer;
}

int QtAlerts::runOnMainThread(const Alert& alert) {
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Kestrova"));
    box.setIcon(iconFor(alert.style));
    // Plain text: the texts are shown as given, line breaks included, never as markup (a
    // version text or a file name from a server could otherwise carry some).
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(alert.messageText));
    const QString informative = QString::fromStdString(alert.informativeText);
    box.setInformativeText(informative);
    // The box's text format does not reach the informative text's label.
    if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
        label->setTextFormat(Qt::PlainText);
    } else {
        box.setInformativeText(Qt::convertFromPlainText(informative, Qt::WhiteSpaceNormal));
    }
    // Kestrova has no window of its own, so nothing else brings its alerts to the front.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);

    std::vector<std::pair<QAbstractButton*, std::size_t>> answers;
    QAbstractButton* escape = nullptr;
    const auto buttons = buttonsOf(alert);
    for (const auto& [index, title] : buttons) {
        QPushButton* button = box.addButton(title, roleFor(alert, index));
        answers.emplace_back(button, index);
        if (index == 0) box.setDefaultButton(button);
        if (alert.shape == Alert::Shape::DefaultAlternateOther && index == 1) escape = button;
    }
    if (escape == nullptr && buttons.size() == 1) escape = answers.front().first;
    box.setEscapeButton(escape);

    QTimer::singleShot(0, &box, [&box] {
        box.raise();
        box.activateWindow();
    });
    runLoop_.beginModal();
    box.exec();
    runLoop_.endModal();

    int escapeAnswer = alert.defaultReturnCode();
    for (const auto& [button, index] : answers) {
        if (box.clickedButton() == button) return alert.returnCodeFor(index);
        if (button == escape) escapeAnswer = alert.returnCodeFor(index);
    }
    // No button: the event loop was told to end (the program is quitting); answer as Escape.
    return escapeAnswer;
}

}  // namespace kestrova::qt
