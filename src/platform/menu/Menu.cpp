#include "platform/menu/Menu.h"

#include <algorithm>

namespace kestrova {

Menu::Menu(std::string title) : title_(std::move(title)) {}

std::shared_ptr<MenuItem> Menu::itemAtIndex(std::size_t index) const {
    return index < items_.size() ? items_[index] : nullptr;
}

void Menu::addItem(std::shared_ptr<MenuItem> item) { insertItem(std::move(item), items_.size()); }

void Menu::insertItem(std::shared_ptr<MenuItem> item, std::size_t index) {
    if (!item) return;
    if (signal_) item->attach(signal_);
    items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(std::min(index, items_.size())),
                  std::move(item));
    changed();
}

void Menu::removeItem(const std::shared_ptr<MenuItem>& item) {
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it == items_.end()) return;
    items_.erase(it);
    changed();
}

void Menu::removeItemAtIndex(std::size_t index) {
    if (index >= items_.size()) return;
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
    changed();
}

void Menu::removeAllItems() {
    if (items_.empty()) return;
    items_.clear();
    changed();
}

std::shared_ptr<MenuItem> Menu::itemWithTag(std::int64_t tag) const {
    for (const auto& item : items_) {
        if (item->tag() == tag) return item;
    }
    return nullptr;
}

std::shared_ptr<MenuItem> Menu::itemWithTitle(const std::string& title) const {
    for (const auto& item : items_) {
        if (!item->isSeparator() && item->title() == title) return item;
    }
    return nullptr;
}

void Menu::attach(const std::shared_ptr<MenuChangeSignal>& signal) {
    signal_ = signal;
    for (const auto& item : items_) item->attach(signal);
}

void Menu::changed() const {
    if (signal_) signal_->fire();
}

}  // namespace kestrova
