#include "platform/qt/TrayHostWatcher.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QTimer>
#include <utility>

namespace kestrova::qt {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kWatcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
constexpr int kCallTimeoutMs = 3000;

}  // namespace

TrayHostWatcher::TrayHostWatcher(QDBusConnection bus, SystemLog& log)
    : bus_(std::move(bus)), log_(log) {}

TrayHostWatcher::~TrayHostWatcher() = default;

bool TrayHostWatcher::hostAvailable() {
    if (!bus_.isConnected() || bus_.interface() == nullptr) return false;
    if (!bus_.interface()->isServiceRegistered(kWatcherService).value()) return false;
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kWatcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus_.call(get, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

void TrayHostWatcher::whenHostAvailable(std::function<void()> ready,
                                        std::function<void()> missing) {
    if (hostAvailable()) {
        ready();
        return;
    }
    ready_ = std::move(ready);
    missing_ = std::move(missing);
    QTimer::singleShot(kNoHostDelayMs, this, [this] {
        if (ready_ && missing_) std::exchange(missing_, nullptr)();
    });
    if (!bus_.isConnected()) {
        log_.log("TrayHostWatcher -> No session bus: the status item cannot be shown.");
        return;
    }
    log_.log(
        "TrayHostWatcher -> Waiting for a panel that shows status items "
        "(org.kde.StatusNotifierWatcher).");
    serviceWatcher_ = new QDBusServiceWatcher(kWatcherService, bus_,
                                              QDBusServiceWatcher::WatchForRegistration, this);
    connect(serviceWatcher_, &QDBusServiceWatcher::serviceRegistered, this,
            &TrayHostWatcher::recheck);
    // A watcher that is there already but has no host yet announces the host's arrival.
    bus_.connect(kWatcherService, kWatcherPath, kWatcherInterface,
                 QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(recheck()));
}

void TrayHostWatcher::recheck() {
    if (!ready_ || !hostAvailable()) return;
    bus_.disconnect(kWatcherService, kWatcherPath, kWatcherInterface,
                    QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(recheck()));
    // recheck() may run inside this watcher's own signal.
    serviceWatcher_->deleteLater();
    serviceWatcher_ = nullptr;
    missing_ = nullptr;
    std::exchange(ready_, nullptr)();
}

}  // namespace kestrova::qt
