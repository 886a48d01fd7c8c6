#pragma once

#include "platform/system/Configuration.h"

namespace kestrova {

class AlertService;
class Application;
class BannerService;
class Bundle;
class Cancellation;
class Files;
class LoginItems;
class NotificationCenter;
class Pasteboard;
class PowerEvents;
class RunLoop;
class StatusBar;
class SystemLog;
class UserDefaults;
class Workspace;

// Everything Kestrova's classes reach of the platform, handed to them at creation. main() fills
// it with the desktop or the headless backend; tests fill it with their own.
struct PlatformServices {
    NotificationCenter& center;
    UserDefaults& defaults;
    SystemLog& log;
    const Files& files;
    RunLoop& runLoop;
    const Bundle& bundle;
    Application& application;
    AlertService& alerts;
    BannerService& banners;
    Pasteboard& pasteboard;
    LoginItems& loginItems;
    Workspace& workspace;
    StatusBar& statusBar;
    PowerEvents& powerEvents;
    // Thrown when the process quits: blocking fetches give up at once.
    Cancellation& shutdown;
    Configuration config;
};

}  // namespace kestrova
