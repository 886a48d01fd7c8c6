#include "platform/qt/NotificationActions.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QStringList>
#include <QUrl>

namespace kestrova::qt {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

QUrl fileUrl(const std::filesystem::path& path) {
    return QUrl::fromLocalFile(QString::fromStdString(path.string()));
}

}  // namespace

NotificationActions::NotificationActions(SystemLog& log) : log_(log) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this,
                SLOT(invoked(uint, QString)));
    bus.connect(kService, kPath, kService, QStringLiteral("NotificationClosed"), this,
                SLOT(closed(uint, uint)));
}

void NotificationActions::remember(uint id, std::filesystem::path file) {
    files_.insert_or_assign(id, std::move(file));
}

void NotificationActions::invoked(uint id, const QString& action) {
    const auto found = files_.find(id);
    if (found == files_.end()) return;  // a banner of another program, or an old one
    if (action == QLatin1String(kOpen) || action == QLatin1String(kOpenFolder)) {
        QDesktopServices::openUrl(fileUrl(found->second));
    } else if (action == QLatin1String(kShowFolder)) {
        showInFolder(found->second);
    }
}

void NotificationActions::closed(uint id, uint /*reason*/) { files_.erase(id); }

void NotificationActions::showInFolder(const std::filesystem::path& file) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{fileUrl(file).toString()} << QString();
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    const std::filesystem::path folder = file.parent_path();
    connect(
        watcher, &QDBusPendingCallWatcher::finished, this,
        [this, folder](QDBusPendingCallWatcher* answer) {
            if (answer->isError()) {
                log_.log("NotificationActions -> No file manager answered; opening the folder.");
                QDesktopServices::openUrl(fileUrl(folder));
            }
            answer->deleteLater();
        });
}

}  // namespace kestrova::qt
