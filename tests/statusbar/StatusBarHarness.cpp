#include "statusbar/StatusBarHarness.h"

namespace kestrova::test {
namespace {

TestPlatform::Options platformOptions(const StatusBarHarness::Options& options) {
    TestPlatform::Options result;
    result.serverURL = options.serverURL;
    return result;
}

}  // namespace

StatusBarHarness::StatusBarHarness() : StatusBarHarness(Options()) {}

StatusBarHarness::StatusBarHarness(Options options)
    : platform(platformOptions(options)),
      bundle(options.version, options.programPath, {}),
      services{platform.center,      *platform.defaults,      platform.log,
               platform.files,       platform.runLoop,        bundle,
               platform.application, platform.alerts,         platform.banners,
               platform.pasteboard,  platform.loginItems,     workspace,
               platform.statusBar,   platform.shutdown,       platform.services.config} {}

void StatusBarHarness::setUp(bool saveLogFile, bool debug) {
    bar = std::make_unique<AdminSystemStatusBar>(services, debug);
    bar->setupSystemStatusBarWithSaveLogFile(saveLogFile);
    bar->statusItem()->changeSignal()->listener = [this] { ++changes; };
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
