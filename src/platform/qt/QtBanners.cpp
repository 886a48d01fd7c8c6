#include "platform/qt/QtBanners.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace kestrova::qt {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

// Runs done(reply) on the main thread when the call has answered (or failed).
template <typename Done>
void whenAnswered(const QDBusPendingCall& call, QObject* owner, Done done) {
    auto* watcher = new QDBusPendingCallWatcher(call, owner);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, owner,
                     [done](QDBusPendingCallWatcher* w) {
                         done(*w);
                         w->deleteLater();
                     });
}

}  // namespace

QtBanners::QtBanners(SystemLog& log) : log_(log), context_(std::make_unique<QObject>()) {}

QtBanners::~QtBanners() = default;

void QtBanners::deliver(const std::string& title, const std::string& informativeText) {
    QMetaObject::invokeMethod(
        context_.get(), [this, title, informativeText] { send(title, informativeText); },
        Qt::QueuedConnection);
}

void QtBanners::send(const std::string& title, const std::string& text) {
    if (bodyMarkup_) {
        notify(title, text);
        return;
    }
    // Whether the body is read as markup decides how it must be written: ask once
    // (until the server has answered).
    const auto call = QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(
        kService, kPath, kInterface, QStringLiteral("GetCapabilities")));
    whenAnswered(call, context_.get(), [this, title, text](QDBusPendingCallWatcher& answer) {
        // Without an answer the text goes as it is, and the next banner asks again.
        const QDBusPendingReply<QStringList> reply = answer;
        if (!bodyMarkup_ && !reply.isError()) {
            bodyMarkup_ = reply.value().contains(QStringLiteral("body-markup"));
        }
        notify(title, text);
    });
}

void QtBanners::notify(const std::string& title, const std::string& text) {
    QString body = QString::fromStdString(text);
    if (bodyMarkup_.value_or(false)) body = body.toHtmlEscaped();
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1)));
    hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("kestrova"));

    QDBusMessage message =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    message << QStringLiteral("Kestrova") << uint(0) << QStringLiteral("kestrova")
            << QString::fromStdString(title) << body << QStringList() << hints << int(-1);
    const auto call = QDBusConnection::sessionBus().asyncCall(message);
    whenAnswered(call, context_.get(), [this, title](QDBusPendingCallWatcher& answer) {
        if (answer.isError()) {
            log_.log("QtBanners -> Notify failed: " + title + ": " +
                     answer.error().message().toStdString());
        }
    });
}

}  // namespace kestrova::qt
