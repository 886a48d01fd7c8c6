#pragma once

#include "platform/Application.h"
#include "platform/Backend.h"
#include "platform/Bundle.h"
#include "platform/Cancellation.h"
#include "platform/Files.h"
#include "platform/NotificationCenter.h"
#include "platform/PlatformServices.h"
#include "platform/SystemLog.h"
#include "platform/UserDefaults.h"
#include "platform/XdgAutostartLoginItems.h"

namespace kestrova {

// The platform services of one Kestrova process, built around a backend (desktop or headless):
// the user's folders, the settings store, the notification center, the bundle, the application
// object and the login items, with the deployment configuration from the environment.
//
//   ProcessPlatform platform(backend, log, Files::fromEnvironment());
//   AppDelegate delegate(platform.services());
class ProcessPlatform {
public:
    ProcessPlatform(Backend& backend, SystemLog& log, Files files);
    ProcessPlatform(const ProcessPlatform&) = delete;
    ProcessPlatform& operator=(const ProcessPlatform&) = delete;

    const PlatformServices& services() const { return services_; }
    NotificationCenter& center() { return center_; }
    Application& application() { return application_; }
    Cancellation& shutdown() { return shutdown_; }

private:
    const Files files_;
    UserDefaults defaults_;
    NotificationCenter center_;
    const Bundle bundle_;
    Application application_;
    XdgAutostartLoginItems loginItems_;
    Cancellation shutdown_;
    const PlatformServices services_;
};

}  // namespace kestrova
