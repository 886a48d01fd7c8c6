#include "statusbar/StatusBarHarness.h"

#include "platform/menu/MenuItem.h"

namespace kestrova::test {
namespace {

TestPlatform::Options platformOptions(const StatusBarHarness::Options& options) {
    TestPlatform::Options result;
    result.serverURL = options.serverURL;
    result.useBuiltInResources = false;
    result.version = options.version;
    result.programPath = options.programPath;
    return result;
}

}  // namespace

StatusBarHarness::StatusBarHarness() : StatusBarHarness(Options()) {}

StatusBarHarness::StatusBarHarness(Options options)
    : platform(platformOptions(options)), services(platform.services) {}

void StatusBarHarness::setUp(bool saveLogFile, bool debug) {
    bar = std::make_unique<AdminSystemStatusBar>(services, debug);
    bar->setupSystemStatusBarWithSaveLogFile(saveLogFile);
    statusItem()->changeSignal()->listener = [this] { ++changes; };
}

std::shared_ptr<StatusItem> StatusBarHarness::statusItem() const {
    const auto& items = platform.statusBar.items();
    return items.empty() ? nullptr : items.back();
}

std::shared_ptr<Menu> StatusBarHarness::mainMenu() const { return statusItem()->menu(); }

std::shared_ptr<Menu> StatusBarHarness::autoDownloadMenu() const {
    return mainMenu()->itemAtIndex(3)->submenu();
}

std::vector<std::string> StatusBarHarness::opened() const {
    static const std::string kPrefix = "Workspace -> Open: ";
    std::vector<std::string> addresses;
    for (const std::string& line : platform.log.linesStartingWith(kPrefix)) {
        addresses.push_back(line.substr(kPrefix.size()));
    }
    return addresses;
}

std::string describe(const MenuItem& item) {
    std::string text = item.isSeparator() ? "---" : item.title();
    if (item.tag() != 0) text += " #" + std::to_string(item.tag());
    if (item.state() == MenuItem::kOn) text += " ✓";
    if (!item.keyEquivalent().empty()) text += " ⌘" + item.keyEquivalent();
    if (!item.isEnabled()) text += " (disabled)";
    return text;
}

std::vector<std::string> describe(const Menu& menu) {
    std::vector<std::string> lines;
    for (const auto& item : menu.items()) lines.push_back(describe(*item));
    return lines;
}

}  // namespace kestrova::test
