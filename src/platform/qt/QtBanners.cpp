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

QtBanners::QtBanners(SystemLog& log)
    : log_(log),
      context_(std::make_unique<QObject>()),
      actions_(std::make_unique<NotificationActions>(log)) {}

QtBanners::~QtBanners() = default;

void QtBanners::deliver(const std::string& title, const std::string& informativeText) {
    deliverForFile(title, informativeText, {});
}

void QtBanners::deliverForFile(const std::string& title, const std::string& informativeText,
                               const std::filesystem::path& file) {
    QMetaObject::invokeMethod(
        context_.get(),
        [this, title, informativeText, file] { send(title, informativeText, file); },
        Qt::QueuedConnection);
}

void QtBanners::send(const std::string& title, const std::string& text,
                     std::filesystem::path file) {
    if (capabilities_) {
        notify(title, text, file);
        return;
    }
    // Whether the body is read as markup decides how it must be written: ask once
    // (until the server has answered).
    const auto call = QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(
        kService, kPath, kInterface, QStringLiteral("GetCapabilities")));
    whenAnswered(call, context_.get(), [this, title, text, file](QDBusPendingCallWatcher& answer) {
        // Without an answer the text goes as it is, and the next banner asks again.
        const QDBusPendingReply<QStringList> reply = answer;
        if (!capabilities_ && !reply.isError()) capabilities_ = reply.value();
        notify(title, text, file);
    });
}

void QtBanners::notify(const std::string& title, const std::string& text,
                       const std::filesystem::path& file) {
    const QStringList capabilities = capabilities_.value_or(QStringList());
    QString body = QString::fromStdString(text);
    if (capabilities.contains(QStringLiteral("body-markup"))) body = body.toHtmlEscaped();
    QStringList actions;
    if (!file.empty() && capabilities.contains(QStringLiteral("actions"))) {
        actions << QLatin1String(NotificationActions::kOpen) << QStringLiteral("開く")
                << QLatin1String(NotificationActions::kShowFolder)
                << QStringLiteral("フォルダを表示");
    }
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1)));
    hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("kestrova"));

    QDBusMessage message =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    message << QStringLiteral("Kestrova") << uint(0) << QStringLiteral("kestrova")
            << QString::fromStdString(title) << body << actions << hints << int(-1);
    const auto call = QDBusConnection::sessionBus().asyncCall(message);
    const bool withActions = !actions.isEmpty();
    whenAnswered(call, context_.get(),
                 [this, title, file, withActions](QDBusPendingCallWatcher& answer) {
                     if (answer.isError()) {
                         log_.log("QtBanners -> Notify failed: " + title + ": " +
                                  answer.error().message().toStdString());
                         return;
                     }
                     const QDBusPendingReply<uint> reply = answer;
                     if (withActions) actions_->remember(reply.value(), file);
                 });
}

}  // namespace kestrova::qt
