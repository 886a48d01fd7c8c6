#pragma once

#include <memory>
#include <vector>

#include "platform/StatusBar.h"

namespace kestrova {

// A status bar without a panel: the items exist as models only (tests read them back).
class HeadlessStatusBar : public StatusBar {
public:
    std::shared_ptr<StatusItem> statusItemWithLength(double length) override;
    const std::vector<std::shared_ptr<StatusItem>>& items() const { return items_; }

private:
    std::vector<std::shared_ptr<StatusItem>> items_;
};

}  // namespace kestrova
