#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Bundle.h"
#include "platform/Menu.h"
#include "platform/PlatformServices.h"
#include "statusbar/AdminSystemStatusBar.h"
#include "statusbar/RecordingWorkspace.h"
#include "support/TestPlatform.h"

namespace kestrova::test {

// A status bar on a test platform in a temporary home: its own bundle (version and program
// path chosen by the test) and a recording workspace; everything else is TestPlatform's.
//
// Use: StatusBarHarness h; h.setUp(); then drive h.bar and read h.bar->mainMenu().
class StatusBarHarness {
public:
    struct Options {
        std::string version = "1.2.3";
        std::string programPath = "/opt/kestrova/bin/kestrova";
        std::string serverURL = "http://127.0.0.1:9";
    };

    StatusBarHarness();
    explicit StatusBarHarness(Options options);

    // Creates the status bar and runs its setup; changes counts model changes from then on.
    void setUp(bool saveLogFile = true, bool debug = false);

    TestPlatform platform;
    Bundle bundle;
    RecordingWorkspace workspace;
    PlatformServices services;
    std::unique_ptr<AdminSystemStatusBar> bar;
    int changes = 0;
};

// One line per item: the title (or "---" for a separator), then " #tag" when tagged, " ✓" when
// checked, " ⌘key" with a key equivalent, and " (disabled)" when it cannot be chosen.
std::vector<std::string> describe(const Menu& menu);
std::string describe(const MenuItem& item);

}  // namespace kestrova::test
