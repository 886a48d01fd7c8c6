#include "platform/qt/QtStatusBar.h"

#include "platform/qt/NoTrayHostNotice.h"
#include "platform/qt/QtStatusItemRenderer.h"
#include "platform/qt/TrayHostWatcher.h"

namespace kestrova::qt {

QtStatusBar::QtStatusBar(SystemLog& log, std::unique_ptr<NoTrayHostNotice> notice)
    : log_(log), notice_(std::move(notice)) {}

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
        hostWatcher_->whenHostAvailable([this] { showAll(); }, [this] { notice_->hostMissing(); });
    }
    return item;
}

void QtStatusBar::showAll() {
    hostReady_ = true;
    notice_->hostSeen();
    for (const auto& renderer : renderers_) renderer->showInTray();
}

}  // namespace kestrova::qt
