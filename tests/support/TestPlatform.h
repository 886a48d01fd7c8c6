#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/Application.h"
#include "platform/Bundle.h"
#include "platform/Cancellation.h"
#include "platform/Files.h"
#include "platform/NotificationCenter.h"
#include "platform/PlainRunLoop.h"
#include "platform/PlatformServices.h"
#include "platform/UserDefaults.h"
#include "platform/XdgAutostartLoginItems.h"
#include "platform/headless/HeadlessPasteboard.h"
#include "platform/headless/HeadlessStatusBar.h"
#include "platform/headless/HeadlessWorkspace.h"
#include "support/RecordingBanners.h"
#include "support/RecordingLog.h"
#include "support/ScriptedAlerts.h"
#include "support/TempDir.h"

namespace kestrova::test {

// A whole platform for one test, in a temporary home folder: real files, defaults, notification
// center and run loop; recording log, alerts and banners; in-memory pasteboard; headless status
// bar. `services` is what the classes under test are given.
class TestPlatform {
public:
    struct Options {
        std::string serverURL = "http://127.0.0.1:9";
        std::string siteURL = "http://127.0.0.1:9/";
        // Shipped resources by name ("dlst", "eplst"); the real ones when not given.
        std::map<std::string, std::string> resources{};
        bool useBuiltInResources = true;
        // The home folder (made when missing); "<tempDir>/home" when empty.
        std::filesystem::path home;
    };

    TestPlatform();
    explicit TestPlatform(Options options);

    const std::filesystem::path& home() const { return files.homeDirectory(); }
    // A new UserDefaults over the same store, loaded, as after a restart.
    std::unique_ptr<UserDefaults> reopenDefaults();

    TempDir tempDir;
    RecordingLog log;
    Files files;
    std::unique_ptr<UserDefaults> defaults;
    NotificationCenter center;
    PlainRunLoop runLoop;
    Bundle bundle;
    Application application{runLoop};
    ScriptedAlerts alerts;
    RecordingBanners banners;
    HeadlessPasteboard pasteboard;
    XdgAutostartLoginItems loginItems;
    HeadlessWorkspace workspace{log};
    HeadlessStatusBar statusBar;
    Cancellation shutdown;
    PlatformServices services;
};

}  // namespace kestrova::test
