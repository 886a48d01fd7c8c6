#include "support/TestPlatform.h"

namespace kestrova::test {
namespace {

Bundle makeBundle(const TestPlatform::Options& options) {
    if (options.useBuiltInResources) return Bundle::main();
    return Bundle(options.version, options.programPath, options.resources);
}

Files makeFiles(const TestPlatform::Options& options, const TempDir& tempDir) {
    const std::filesystem::path home =
        options.home.empty() ? tempDir.path() / "home" : options.home;
    Files::createDirectories(home);
    return Files(home, home / ".config");
}

}  // namespace

TestPlatform::TestPlatform() : TestPlatform(Options()) {}

TestPlatform::TestPlatform(Options options)
    : process(backend, log, makeFiles(options, tempDir),
              Configuration::make(options.serverURL, options.siteURL), makeBundle(options)),
      services(process.services()),
      center(services.center),
      defaults(services.defaults),
      files(services.files),
      runLoop(backend.runLoop()),
      alerts(backend.alerts()),
      pasteboard(backend.pasteboard()),
      statusBar(backend.statusBar()),
      shutdown(services.shutdown) {}

std::unique_ptr<UserDefaults> TestPlatform::reopenDefaults() {
    auto reopened = std::make_unique<UserDefaults>(
        files.configDirectory() / "kestrova" / "defaults.plist", log);
    reopened->load();
    return reopened;
}

std::vector<std::pair<std::string, std::string>> TestPlatform::banners() const {
    static constexpr std::string_view kPrefix = "Banner -> ";
    std::vector<std::pair<std::string, std::string>> delivered;
    for (const std::string& line : log.linesStartingWith(std::string(kPrefix))) {
        const std::string rest = line.substr(kPrefix.size());
        const std::size_t colon = rest.find(": ");
        delivered.emplace_back(rest.substr(0, colon),
                               colon == std::string::npos ? "" : rest.substr(colon + 2));
    }
    return delivered;
}

}  // namespace kestrova::test
