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
    Banner banner{title, informativeText, file, {}, {}};
    if (!file.empty()) {
        banner.actions << QLatin1String(NotificationActions::kOpen) << QStringLiteral("開く")
                       << QLatin1String(NotificationActions::kShowFolder)
                       << QStringLiteral("フォルダを表示");
    }
    QMetaObject::invokeMethod(
        context_.get(), [this, banner = std::move(banner)] { send(banner); }, Qt::QueuedConnection);
}

void QtBanners::deliverOpeningFolder(const std::string& title, const std::string& informativeText,
                                     const std::filesystem::path& folder, const std::string& action,
                                     std::function<void(bool)> answered) {
    // The click, and a button for the servers that show no button for the click (GNOME's).
    const QString label = QString::fromStdString(action);
    send(Banner{title, informativeText, folder,
                QStringList{QLatin1String(NotificationActions::kOpen), label,
                            QLatin1String(NotificationActions::kOpenFolder), label},
                std::move(answered)});
}

void QtBanners::send(Banner banner) {
    if (capabilities_) {
        notify(banner);
        return;
    }
    // Whether the body is read as markup decides how it must be written: ask once
    // (until the server has answered).
    const auto call = QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(
        kService, kPath, kInterface, QStringLiteral("GetCapabilities")));
    whenAnswered(call, context_.get(),
                 [this, banner = std::move(banner)](QDBusPendingCallWatcher& answer) {
                     // Without an answer the text goes as it is, and the next banner asks again.
                     const QDBusPendingReply<QStringList> reply = answer;
                     if (!capabilities_ && !reply.isError()) capabilities_ = reply.value();
                     notify(banner);
                 });
}

void QtBanners::notify(const Banner& banner) {
    const QStringList capabilities = capabilities_.value_or(QStringList());
    QString body = QString::fromStdString(banner.text);
    if (capabilities.contains(QStringLiteral("body-markup"))) body = body.toHtmlEscaped();
    const QStringList actions =
        capabilities.contains(QStringLiteral("actions")) ? banner.actions : QStringList();
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1)));
    hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("kestrova"));

    QDBusMessage message =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    message << QStringLiteral("Kestrova") << uint(0) << QStringLiteral("kestrova")
            << QString::fromStdString(banner.title) << body << actions << hints << int(-1);
    const auto call = QDBusConnection::sessionBus().asyncCall(message);
    whenAnswered(call, context_.get(),
                 [this, banner, withActions = !actions.isEmpty()](QDBusPendingCallWatcher& answer) {
                     const bool shown = !answer.isError();
                     if (!shown) {
                         log_.log("QtBanners -> Notify failed: " + banner.title + ": " +
                                  answer.error().message().toStdString());
                     } else if (withActions) {
                         const QDBusPendingReply<uint> reply = answer;
                         actions_->remember(reply.value(), banner.file);
                     }
                     if (banner.answered) banner.answered(shown);
                 });
}

}  // namespace kestrova::qt
