#include "app/ProcessPlatform.h"

#include "platform/Configuration.h"

namespace kestrova {

ProcessPlatform::ProcessPlatform(Backend& backend, SystemLog& log, Files files)
    : files_(std::move(files)),
      defaults_(files_.configDirectory() / "kestrova" / "defaults.plist", log),
      bundle_(Bundle::main()),
      application_(backend.runLoop()),
      loginItems_(files_.configDirectory() / "autostart"),
      services_{center_,
                defaults_,
                log,
                files_,
                backend.runLoop(),
                bundle_,
                application_,
                backend.alerts(),
                backend.banners(),
                backend.pasteboard(),
                loginItems_,
                backend.workspace(),
                backend.statusBar(),
                shutdown_,
                Configuration::fromEnvironment()} {}

}  // namespace kestrova
