#include "platform/StatusBar.h"

namespace kestrova {

StatusItem::StatusItem() : signal_(std::make_shared<MenuChangeSignal>()) {}

void StatusItem::setTitle(std::string title) {
    title_ = std::move(title);
    signal_->fire();
}

void StatusItem::setHighlightMode(bool on) {
    highlightMode_ = on;
    signal_->fire();
}

void StatusItem::setMenu(std::shared_ptr<Menu> menu) {
    menu_ = std::move(menu);
    if (menu_) menu_->attach(signal_);
    signal_->fire();
}

}  // namespace kestrova
