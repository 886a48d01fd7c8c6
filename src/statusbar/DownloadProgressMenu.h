#pragma once

#include <cstddef>
#include <vector>

#include "platform/menu/Menu.h"
#include "platform/plist/PlistValue.h"

namespace kestrova {

// One pass that brings the download items of the main menu into line with the download status
// table. The item tags carry the download ids, so the menu itself is the memory of what is
// shown: the newest download stands at index 2, below an extra separator at index 1 that exists
// only while downloads are listed. A running download shows "name　(percentage)", a complete one
// its bare name with a check mark; download items are never enabled.
//
// Use: DownloadProgressMenu(menu, defaultItemCount).update(table) each refresh, clear() when the
// table is empty. Only what differs is changed, so an unchanged table changes nothing.
class DownloadProgressMenu {
public:
    DownloadProgressMenu(Menu& menu, std::size_t defaultItemCount);

    // Adds, updates and removes download items for the ids 1 to the last record's id.
    void update(const std::vector<PlistValue>& table);
    // Leaves only the fixed items (removes the extra separator and every download item).
    void clear();

    // Whether any record has the status "complete".
    static bool hasCompleteRecord(const std::vector<PlistValue>& table);

private:
    void visit(std::int64_t id, const std::vector<PlistValue>& table);
    void addItem(const PlistValue& record);
    static void showRecord(MenuItem& item, const PlistValue& record);

    Menu& menu_;
    std::size_t defaultItemCount_;
};

}  // namespace kestrova
