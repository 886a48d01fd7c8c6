#include "platform/qt/QtPowerEvents.h"

#include <QDBusConnection>

namespace kestrova::qt {

QtPowerEvents::QtPowerEvents() {
    QDBusConnection::systemBus().connect(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
        SLOT(prepareForSleep(bool)));
}

void QtPowerEvents::prepareForSleep(bool sleeping) {
    if (!sleeping && resumed_) resumed_();
}

}  // namespace kestrova::qt
