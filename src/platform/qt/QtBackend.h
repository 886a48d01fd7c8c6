#pragma once

#include <memory>

#include "platform/Backend.h"
#include "platform/SystemLog.h"
#include "platform/qt/QtAlerts.h"
#include "platform/qt/QtBanners.h"
#include "platform/qt/QtPasteboard.h"
#include "platform/qt/QtPowerEvents.h"
#include "platform/qt/QtRunLoop.h"
#include "platform/qt/QtStatusBar.h"
#include "platform/qt/QtWorkspace.h"
#include "platform/system/Files.h"
#include "platform/system/UniqueFd.h"

class QApplication;

namespace kestrova::qt {

// Kestrova on the desktop: the QApplication and the services over it (Qt's event loop, message
// boxes, desktop notifications over D-Bus, the clipboard, the browser, the panel's status item).
//
// create() is the desktop mode's way in: it starts Qt, or answers nothing, after a message on
// standard error, when Qt cannot start. files are the run's folders. Standard error as it is at
// create() (before the activity log takes it over) is kept for what must be said where the
// desktop shows nothing. On a Wayland
// session that also offers X11 it runs Qt on XWayland, since Wayland lets only the focused
// window read the clipboard and Kestrova never has focus.
class QtBackend : public Backend {
public:
    static std::unique_ptr<QtBackend> create(int argc, char** argv, SystemLog& log,
                                             const Files& files);
    ~QtBackend() override;
    QtBackend(const QtBackend&) = delete;
    QtBackend& operator=(const QtBackend&) = delete;

    RunLoop& runLoop() override { return *runLoop_; }
    AlertService& alerts() override { return *alerts_; }
    BannerService& banners() override { return *banners_; }
    Pasteboard& pasteboard() override { return *pasteboard_; }
    Workspace& workspace() override { return *workspace_; }
    StatusBar& statusBar() override { return *statusBar_; }
    PowerEvents& powerEvents() override { return *powerEvents_; }

private:
    QtBackend(int argc, char** argv, SystemLog& log, const Files& files, UniqueFd console);

    int argc_;  // QApplication keeps a reference to it
    std::unique_ptr<QApplication> app_;
    std::unique_ptr<QtRunLoop> runLoop_;
    std::unique_ptr<QtAlerts> alerts_;
    std::unique_ptr<QtBanners> banners_;
    std::unique_ptr<QtPasteboard> pasteboard_;
    std::unique_ptr<QtWorkspace> workspace_;
    std::unique_ptr<QtStatusBar> statusBar_;
    std::unique_ptr<QtPowerEvents> powerEvents_;
};

}  // namespace kestrova::qt
