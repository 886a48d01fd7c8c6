#include "platform/runtime/ProcessPlatform.h"

#include "platform/system/Configuration.h"

namespace kestrova {

ProcessPlatform::ProcessPlatform(Backend& backend, SystemLog& log, Files files)
    : ProcessPlatform(backend, log, std::move(files), Configuration::fromEnvironment(),
                      Bundle::main()) {}

ProcessPlatform::ProcessPlatform(Backend& backend, SystemLog& log, Files files,
                                 Configuration config, Bundle bundle)
    : files_(std::move(files)),
      defaults_(files_.configDirectory() / "kestrova" / "defaults.plist", log),
      bundle_(std::move(bundle)),
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
                backend.powerEvents(),
                shutdown_,
                std::move(config)} {}

}  // namespace kestrova
