#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/StatusBar.h"
#include "platform/menu/Menu.h"
#include "statusbar/AdminSystemStatusBar.h"
#include "support/TestPlatform.h"

namespace kestrova::test {

// A status bar on a test platform in a temporary home, with a bundle of the test's choosing
// (version and program path). The menu is read back from the headless panel, as a desktop
// panel would read it.
//
// Use: StatusBarHarness h; h.setUp(); then drive h.bar and read h.mainMenu().
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

    // What the bar put into the panel: its item, the item's menu and the auto-download submenu.
    std::shared_ptr<StatusItem> statusItem() const;
    std::shared_ptr<Menu> mainMenu() const;
    std::shared_ptr<Menu> autoDownloadMenu() const;
    // The addresses the workspace was asked to open, in order.
    std::vector<std::string> opened() const;

    TestPlatform platform;
    const PlatformServices& services;
    std::unique_ptr<AdminSystemStatusBar> bar;
    int changes = 0;
};

// One line per item: the title (or "---" for a separator), then " #tag" when tagged, " ✓" when
// checked, " ⌘key" with a key equivalent, and " (disabled)" when it cannot be chosen.
std::vector<std::string> describe(const Menu& menu);
std::string describe(const MenuItem& item);

}  // namespace kestrova::test
