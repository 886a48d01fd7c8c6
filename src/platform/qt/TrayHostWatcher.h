#pragma once

#include <QDBusConnection>
#include <QObject>
#include <functional>

#include "platform/SystemLog.h"

class QDBusServiceWatcher;

namespace kestrova::qt {

// Tells when the desktop has a panel that shows StatusNotifierItems: the session bus has an
// org.kde.StatusNotifierWatcher whose IsStatusNotifierHostRegistered is true.
//
// Qt decides once per process whether its tray icons go over D-Bus or the old X11 protocol, at
// the first tray icon, so that icon must not be made before a host is there. Kestrova started
// at login may come up before the panel: whenHostAvailable() then logs one line and waits for
// the watcher to appear (or for its host to register) before calling back, once.
class TrayHostWatcher : public QObject {
    Q_OBJECT

public:
    TrayHostWatcher(QDBusConnection bus, SystemLog& log);
    ~TrayHostWatcher() override;

    // Calls ready at once when a host is there, else later on the main thread.
    void whenHostAvailable(std::function<void()> ready);
    // Asks the bus now (blocking, short).
    bool hostAvailable();

private slots:
    void recheck();

private:
    QDBusConnection bus_;
    SystemLog& log_;
    std::function<void()> ready_;
    QDBusServiceWatcher* serviceWatcher_ = nullptr;  // child
};

}  // namespace kestrova::qt
