#pragma once

#include <cstddef>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/plist/PlistValue.h"

namespace kestrova {

// The download status table: one row (a "downloadStatus" record) per manual download that
// reported "setup", in the order of those reports, each replaced by the later reports of its
// id. Reports arrive on the operations' threads while the menu and the quit question read on
// the main thread, so every method takes the table's lock.
class DownloadStatusTable {
public:
    // A "setup" record adds a row; any other replaces the row of its id (none: ignored).
    void apply(const PlistValue& record);
    // Keeps only the rows still in "setup" or "downloading".
    void deleteCompleted();
    std::size_t countWithStatus(std::string_view status) const;
    std::vector<PlistValue> snapshot() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<PlistValue> rows_;
};

}  // namespace kestrova
