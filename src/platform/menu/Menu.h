#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/menu/MenuChangeSignal.h"
#include "platform/menu/MenuItem.h"

namespace kestrova {

// A menu of the model: a title (never shown) and an ordered list of items addressed by index
// from 0. Indexes shift at once after each insertion or removal. Finding by tag or title looks
// only at the menu's own items. Main thread only.
class Menu {
public:
    explicit Menu(std::string title);

    const std::string& title() const { return title_; }
    std::size_t numberOfItems() const { return items_.size(); }
    const std::vector<std::shared_ptr<MenuItem>>& items() const { return items_; }
    std::shared_ptr<MenuItem> itemAtIndex(std::size_t index) const;

    void addItem(std::shared_ptr<MenuItem> item);
    // index may equal numberOfItems() (append); beyond that the item is appended.
    void insertItem(std::shared_ptr<MenuItem> item, std::size_t index);
    void removeItem(const std::shared_ptr<MenuItem>& item);
    void removeItemAtIndex(std::size_t index);
    void removeAllItems();

    // The first item in menu order with this tag / exactly this title, or nullptr.
    std::shared_ptr<MenuItem> itemWithTag(std::int64_t tag) const;
    std::shared_ptr<MenuItem> itemWithTitle(const std::string& title) const;

    void attach(const std::shared_ptr<MenuChangeSignal>& signal);

private:
    void changed() const;

    std::string title_;
    std::vector<std::shared_ptr<MenuItem>> items_;
    std::shared_ptr<MenuChangeSignal> signal_;
};

}  // namespace kestrova
