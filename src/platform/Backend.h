#pragma once

namespace kestrova {

class AlertService;
class BannerService;
class LoginItems;
class Pasteboard;
class PowerEvents;
class RunLoop;
class StatusBar;
class SystemLog;
class Workspace;

// The services that differ between the desktop and the headless mode. main() picks one backend
// and builds the rest of the platform around it.
class Backend {
public:
    virtual ~Backend() = default;
    virtual RunLoop& runLoop() = 0;
    virtual AlertService& alerts() = 0;
    virtual BannerService& banners() = 0;
    virtual Pasteboard& pasteboard() = 0;
    virtual Workspace& workspace() = 0;
    virtual StatusBar& statusBar() = 0;
    virtual PowerEvents& powerEvents() = 0;
};

}  // namespace kestrova
