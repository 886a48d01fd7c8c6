#include "support/TestPlatform.h"

namespace kestrova::test {
namespace {

Bundle makeBundle(const TestPlatform::Options& options) {
    if (options.useBuiltInResources) return Bundle::main();
    return Bundle("0.0.0-test", "/usr/bin/kestrova", options.resources);
}

Files makeFiles(const TestPlatform::Options& options, const TempDir& tempDir) {
    const std::filesystem::path home =
        options.home.empty() ? tempDir.path() / "home" : options.home;
    return Files(home, home / ".config");
}

}  // namespace

TestPlatform::TestPlatform() : TestPlatform(Options()) {}

TestPlatform::TestPlatform(Options options)
    : files(makeFiles(options, tempDir)),
      defaults(std::make_unique<UserDefaults>(
          files.configDirectory() / "kestrova" / "defaults.plist", log)),
      bundle(makeBundle(options)),
      loginItems(files.configDirectory() / "autostart"),
      services{center,      *defaults,  log,
               files,       runLoop,    bundle,
               application, alerts,     banners,
               pasteboard,  loginItems, workspace,
               statusBar,   shutdown,   Configuration::make(options.serverURL, options.siteURL)} {
    Files::createDirectories(files.homeDirectory());
}

std::unique_ptr<UserDefaults> TestPlatform::reopenDefaults() {
    auto reopened = std::make_unique<UserDefaults>(defaults->storePath(), log);
    reopened->load();
    return reopened;
}

}  // namespace kestrova::test
