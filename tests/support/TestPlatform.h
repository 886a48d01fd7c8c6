#pragma once

#include <filesystem>
#include <map>
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

// The headless backend as the tests' platform: only the alerts differ, answered as the test
// scripts them.
class TestBackend : public HeadlessBackend {
public:
    explicit TestBackend(SystemLog& log) : HeadlessBackend(log) {}
    ScriptedAlerts& alerts() override { return alerts_; }

private:
    ScriptedAlerts alerts_;
};

// A whole process's platform for one test, built the way the program builds its own
// (ProcessPlatform around the headless backend), in a temporary home folder, with a recording
// log. `services` is what the classes under test are given; the rest names its parts.
class TestPlatform {
public:
    struct Options {
        std::string serverURL = "http://127.0.0.1:9";
        std::string siteURL = "http://127.0.0.1:9/";
        // The program's own bundle, or one made of these version, path and resources ("dlst",
        // "eplst").
        bool useBuiltInResources = true;
        std::map<std::string, std::string> resources{};
        std::string version = "0.0.0-test";
        std::filesystem::path programPath = "/usr/bin/kestrova";
        // The home folder (made when missing); "<tempDir>/home" when empty.
        std::filesystem::path home{};
    };

    TestPlatform();
    explicit TestPlatform(Options options);

    const std::filesystem::path& home() const { return files.homeDirectory(); }
    // A new UserDefaults over the same store, loaded, as after a restart.
    std::unique_ptr<UserDefaults> reopenDefaults();
    // The banners delivered so far, (title, text) in order: the headless backend logs them.
    std::vector<std::pair<std::string, std::string>> banners() const;

    TempDir tempDir;
    RecordingLog log;
    TestBackend backend{log};
    ProcessPlatform process;
    const PlatformServices& services;
    NotificationCenter& center;
    UserDefaults& defaults;
    const Files& files;
    PlainRunLoop& runLoop;
    ScriptedAlerts& alerts;
    HeadlessPasteboard& pasteboard;
    HeadlessStatusBar& statusBar;
    Cancellation& shutdown;
};

}  // namespace kestrova::test
