#include "platform/headless/HeadlessStatusBar.h"

namespace kestrova {

std::shared_ptr<StatusItem> HeadlessStatusBar::statusItemWithLength(double /*length*/) {
    items_.push_back(std::make_shared<StatusItem>());
    return items_.back();
}

}  // namespace kestrova
