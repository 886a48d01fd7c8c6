#pragma once

#include "platform/Application.h"
#include "platform/Backend.h"
#include "platform/PlatformServices.h"
#include "platform/SystemLog.h"
#include "platform/plist/Bundle.h"
#include "platform/plist/UserDefaults.h"
#include "platform/runtime/Cancellation.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/system/Configuration.h"
#include "platform/system/Files.h"
#include "platform/system/XdgAutostartLoginItems.h"

namespace kestrova {

// The platform services of one Kestrova process, built around a backend (desktop, headless, or
// the tests' headless one): the user's folders, the settings store, the notification center,
// the bundle, the application object, the login items and the shutdown switch, with the
// deployment configuration. The one way a process (the program, a benchmark, a test) gets its
// services.
//
//   ProcessPlatform platform(backend, log, Files::fromEnvironment());
//   AppDelegate delegate(platform.services());
class ProcessPlatform {
public:
    // The configuration from the environment and the program's own bundle.
    ProcessPlatform(Backend& backend, SystemLog& log, Files files);
    ProcessPlatform(Backend& backend, SystemLog& log, Files files, Configuration config,
                    Bundle bundle);
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
