#include "platform/menu/MenuItem.h"

#include "platform/menu/Menu.h"

namespace kestrova {

MenuItem::MenuItem(std::string title) : title_(std::move(title)) {}

std::shared_ptr<MenuItem> MenuItem::separatorItem() {
    auto item = std::make_shared<MenuItem>();
    item->separator_ = true;
    return item;
}

void MenuItem::setTitle(std::string title) {
    title_ = std::move(title);
    changed();
}

void MenuItem::setTag(std::int64_t tag) {
    tag_ = tag;
    changed();
}

void MenuItem::setState(int state) {
    state_ = state;
    changed();
}

void MenuItem::setKeyEquivalent(std::string key) {
    keyEquivalent_ = std::move(key);
    changed();
}

void MenuItem::setTarget(const void* target) {
    target_ = target;
    changed();
}

void MenuItem::setAction(std::string name, Action run) {
    actionName_ = std::move(name);
    action_ = std::move(run);
    changed();
}

void MenuItem::clearAction() {
    actionName_.clear();
    action_ = nullptr;
    changed();
}

void MenuItem::setSubmenu(std::shared_ptr<Menu> submenu) {
    submenu_ = std::move(submenu);
    if (submenu_ && signal_) submenu_->attach(signal_);
    changed();
}

bool MenuItem::isEnabled() const {
    return submenu_ != nullptr || (target_ != nullptr && static_cast<bool>(action_));
}

bool MenuItem::perform() {
    if (separator_ || target_ == nullptr || !action_) return false;
    // Keep the action alive: it may replace this item's action or remove the item.
    Action run = action_;
    run(*this);
    return true;
}

void MenuItem::attach(const std::shared_ptr<MenuChangeSignal>& signal) {
    signal_ = signal;
    if (submenu_) submenu_->attach(signal);
}

void MenuItem::changed() const {
    if (signal_) signal_->fire();
}

}  // namespace kestrova
