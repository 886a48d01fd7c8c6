#pragma once

#include <memory>
#include <vector>

#include "platform/StatusBar.h"
#include "platform/SystemLog.h"

namespace kestrova::qt {

class NoTrayHostNotice;
class QtStatusItemRenderer;
class TrayHostWatcher;

// The panel's status items. Each new item is drawn by its own renderer at once (its menu
// mirrored); it appears in the panel as soon as the desktop has a host for status items, which
// may be later than the item's creation when Kestrova starts before the panel. When none comes
// within a few seconds, the user is told (NoTrayHostNotice). Main thread.
class QtStatusBar : public StatusBar {
public:
    QtStatusBar(SystemLog& log, std::unique_ptr<NoTrayHostNotice> notice);
    ~QtStatusBar() override;
    QtStatusBar(const QtStatusBar&) = delete;
    QtStatusBar& operator=(const QtStatusBar&) = delete;

    std::shared_ptr<StatusItem> statusItemWithLength(double length) override;

    const std::vector<std::unique_ptr<QtStatusItemRenderer>>& renderers() const {
        return renderers_;
    }

private:
    void showAll();

    SystemLog& log_;
    std::unique_ptr<NoTrayHostNotice> notice_;
    std::unique_ptr<TrayHostWatcher> hostWatcher_;  // from the first item on
    bool hostReady_ = false;
    std::vector<std::unique_ptr<QtStatusItemRenderer>> renderers_;
};

}  // namespace kestrova::qt
