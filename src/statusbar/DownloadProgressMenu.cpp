#include "statusbar/DownloadProgressMenu.h"

#include <algorithm>
#include <set>
#include <string>

#include "messages/Notifications.h"
#include "platform/text/TextUtil.h"

namespace kestrova {
namespace {

// Between the name and the parenthesis: one ideographic space, not an ASCII blank.
constexpr const char* kIdeographicSpace = "\u3000";

std::int64_t recordId(const PlistValue& record) {
    return TextUtil::leadingInteger(record.stringFor(key::kId));
}

bool isComplete(const PlistValue& record) {
    return record.stringFor(key::kStatus) == status::kComplete;
}

const PlistValue* firstRecordWithId(const std::vector<PlistValue>& table, std::int64_t id) {
    const auto it = std::find_if(table.begin(), table.end(),
                                 [id](const PlistValue& record) { return recordId(record) == id; });
    return it == table.end() ? nullptr : &*it;
}

}  // namespace

DownloadProgressMenu::DownloadProgressMenu(Menu& menu, std::size_t defaultItemCount)
    : menu_(menu), defaultItemCount_(defaultItemCount) {}

void DownloadProgressMenu::update(const std::vector<PlistValue>& table) {
    if (table.empty()) return;
    // Operations report from their own threads, so rows need not arrive in id order: the walk
    // ends at the highest id in the table, not at the last row's.
    std::int64_t last = 0;
    for (const auto& record : table) last = std::max(last, recordId(record));
    // The ids 1 to last are visited in increasing order. An id with neither an item nor a record
    // changes nothing, so only the ids that have one are visited: the result is the same, and a
    // large id costs no long walk.
    std::set<std::int64_t> ids;
    for (const auto& record : table) {
        const std::int64_t id = recordId(record);
        if (id >= 1 && id <= last) ids.insert(id);
    }
    for (const auto& item : menu_.items()) {
        if (item->tag() >= 1 && item->tag() <= last) ids.insert(item->tag());
    }
    for (const std::int64_t id : ids) visit(id, table);
}

void DownloadProgressMenu::clear() {
    while (menu_.numberOfItems() > defaultItemCount_) menu_.removeItemAtIndex(1);
}

bool DownloadProgressMenu::hasCompleteRecord(const std::vector<PlistValue>& table) {
    return std::any_of(table.begin(), table.end(), isComplete);
}

void DownloadProgressMenu::visit(std::int64_t id, const std::vector<PlistValue>& table) {
    const std::shared_ptr<MenuItem> item = menu_.itemWithTag(id);
    const PlistValue* record = firstRecordWithId(table, id);
    if (!item) {
        // Ids are also spent on requests that never produce a record.
        if (record != nullptr) addItem(*record);
        return;
    }
    if (record != nullptr) {
        showRecord(*item, *record);
    } else {
        menu_.removeItem(item);
    }
}

void DownloadProgressMenu::addItem(const PlistValue& record) {
    // No receiver and no action: a download item is shown disabled.
    auto item = std::make_shared<MenuItem>();
    item->setTag(recordId(record));
    showRecord(*item, record);
    if (menu_.numberOfItems() == defaultItemCount_) {
        menu_.insertItem(MenuItem::separatorItem(), 1);
    }
    menu_.insertItem(std::move(item), 2);
}

// Complete: the bare name with a check mark. Otherwise ("setup", "downloading", "error") the
// name and the percentage text; the check mark is left as it is.
void DownloadProgressMenu::showRecord(MenuItem& item, const PlistValue& record) {
    const bool complete = isComplete(record);
    std::string title = record.stringFor(key::kName);
    if (!complete) {
        title += kIdeographicSpace;
        title += '(';
        title += record.stringFor(key::kPercentage);
        title += ')';
    }
    if (item.title() != title) item.setTitle(std::move(title));
    if (complete && item.state() != MenuItem::kOn) item.setState(MenuItem::kOn);
}

}  // namespace kestrova
