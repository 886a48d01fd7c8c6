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
// the watcher to appear (or for its host to register) before calling back, once. When none has
// come a few seconds after start, it says so once: the desktop may have none at all (GNOME Shell
// without the AppIndicator extension).
class TrayHostWatcher : public QObject {
    Q_OBJECT

public:
    // A panel started with the session registers its host within moments of the login.
    static constexpr int kNoHostDelayMs = 5000;

    TrayHostWatcher(QDBusConnection bus, SystemLog& log);
    ~TrayHostWatcher() override;

    // Calls ready at once when a host is there, else later on the main thread; missing once
    // when there is still none kNoHostDelay after this call.
    void whenHostAvailable(std::function<void()> ready, std::function<void()> missing);
    // Asks the bus now (blocking, short).
    bool hostAvailable();

private slots:
    void recheck();

private:
    QDBusConnection bus_;
    SystemLog& log_;
    std::function<void()> ready_;
    std::function<void()> missing_;
    QDBusServiceWatcher* serviceWatcher_ = nullptr;  // child
};

}  // namespace kestrova::qt
