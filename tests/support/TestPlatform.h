#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/PlatformServices.h"
#include "platform/headless/HeadlessBackend.h"
#include "platform/runtime/ProcessPlatform.h"
#include "support/RecordingLog.h"
#include "support/ScriptedAlerts.h"
#include "support/TempDir.h"

namespace kestrova::test {

// The headless backend with alerts answered as the test scripts them.
class TestBackend : public HeadlessBackend {
public:
    explicit TestBackend(SystemLog& log) : HeadlessBackend(log) {}
    ScriptedAlerts& alerts() override { return alerts_; }

private:
    ScriptedAlerts alerts_;
};

// A whole process's platform for one test, built the way the program builds its own, in a
// temporary home folder; `services` is what the classes under test are given.
class TestPlatform {
public:
    struct Options {
        std::string serverURL = "http://127.0.0.1:9";
        std::string siteURL = "http://127.0.0.1:9/";
        // Or a bundle of this version and path without resources.
        bool useBuiltInResources = true;
        std::string version = "0.0.0-test";
        std::filesystem::path programPath = "/usr/bin/kestrova";
        // "<tempDir>/home" when empty.
        std::filesystem::path home{};
    };

    TestPlatform() : TestPlatform(Options()) {}
    explicit TestPlatform(const Options& options)
        : process(backend, log,
                  makeFiles(options.home.empty() ? tempDir.path() / "home" : options.home),
                  Configuration::make(options.serverURL, options.siteURL),
                  options.useBuiltInResources ? Bundle::main()
                                              : Bundle(options.version, options.programPath, {})) {}

    // As after a restart.
    std::unique_ptr<UserDefaults> reopenDefaults() {
        auto reopened = std::make_unique<UserDefaults>(
            files.configDirectory() / "kestrova" / "defaults.plist", log);
        reopened->load();
        return reopened;
    }
    // (title, text) of each banner, as the headless backend logs them.
    std::vector<std::pair<std::string, std::string>> banners() const {
        std::vector<std::pair<std::string, std::string>> delivered;
        for (const std::string& line : log.linesStartingWith("Banner -> ")) {
            const std::size_t colon = line.find(": ");
            delivered.emplace_back(line.substr(10, colon - 10),
                                   colon == std::string::npos ? "" : line.substr(colon + 2));
        }
        return delivered;
    }

    TempDir tempDir;
    RecordingLog log;
    TestBackend backend{log};
    ProcessPlatform process;
    const PlatformServices& services = process.services();
    NotificationCenter& center = services.center;
    UserDefaults& defaults = services.defaults;
    const Files& files = services.files;
    PlainRunLoop& runLoop = backend.runLoop();
    ScriptedAlerts& alerts = backend.alerts();
    HeadlessPasteboard& pasteboard = backend.pasteboard();
    HeadlessStatusBar& statusBar = backend.statusBar();

private:
    static Files makeFiles(const std::filesystem::path& home) {
        Files::createDirectories(home);
        return Files(home, home / ".config");
    }
};

}  // namespace kestrova::test
