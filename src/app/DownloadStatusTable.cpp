#include "app/DownloadStatusTable.h"

#include <algorithm>

#include "messages/Notifications.h"

namespace kestrova {

void DownloadStatusTable::apply(const PlistValue& record) {
    if (!record.isDictionary()) return;
    std::lock_guard lock(mutex_);
    if (record.stringFor(key::kStatus) == status::kSetup) {
        rows_.push_back(record);
        return;
    }
    const std::string id = record.stringFor(key::kId);
    const auto row = std::find_if(rows_.begin(), rows_.end(),
                                  [&](const PlistValue& r) { return r.stringFor(key::kId) == id; });
    if (row != rows_.end()) *row = record;
}

void DownloadStatusTable::deleteCompleted() {
    std::lock_guard lock(mutex_);
    std::erase_if(rows_, [](const PlistValue& row) {
        const std::string s = row.stringFor(key::kStatus);
        return s != status::kSetup && s != status::kDownloading;
    });
}

std::size_t DownloadStatusTable::countWithStatus(std::string_view status) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(rows_.begin(), rows_.end(),
                      [&](const PlistValue& r) { return r.stringFor(key::kStatus) == status; }));
}

std::vector<PlistValue> DownloadStatusTable::snapshot() const {
    std::lock_guard lock(mutex_);
    return rows_;
}

void DownloadStatusTable::clear() {
    std::lock_guard lock(mutex_);
    rows_.clear();
}

}  // namespace kestrova
