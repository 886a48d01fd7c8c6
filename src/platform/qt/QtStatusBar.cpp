#include "platform/qt/QtStatusBar.h"

#include "platform/qt/QtStatusItemRenderer.h"
#include "platform/qt/TrayHostWatcher.h"

namespace kestrova::qt {

QtStatusBar::QtStatusBar(SystemLog& log) : log_(log) {}

QtStatusBar::~QtStatusBar() {
    // The items' trays go before the watcher.
    renderers_.clear();
}

std::shared_ptr<StatusItem> QtStatusBar::statusItemWithLength(double /*length*/) {
    auto item = std::make_shared<StatusItem>();
    renderers_.push_back(std::make_unique<QtStatusItemRenderer>(item));
    if (hostReady_) {
        renderers_.back()->showInTray();
    } else if (!hostWatcher_) {
        hostWatcher_ = std::make_unique<TrayHostWatcher>(QDBusConnection::sessionBus(), log_);
        hostWatcher_->whenHostAvailable([this] { showAll(); });
    }
    return item;
}

void QtStatusBar::showAll() {
    hostReady_ = true;
    for (const auto& renderer : renderers_) renderer->showInTray();
}

}  // namespace kestrova::qt
