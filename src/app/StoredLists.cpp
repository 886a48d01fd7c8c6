#include "app/StoredLists.h"

#include "messages/Notifications.h"
#include "platform/SystemLog.h"
#include "platform/plist/UserDefaults.h"

namespace kestrova {

void StoredLists::load(const PlistValue& shippedEpisodes, SystemLog& log) {
    std::lock_guard lock(mutex_);
    setDownloadListLocked(defaults_.arrayForKey(defaultsKey::kAutoDownloadList));
    eplst_ = defaults_.dictionaryForKey(defaultsKey::kDownloadedEpisodeList);
    if (!dlst_) log.log("AppDelegate -> Stored autoDownloadList is not a list.");
    if (!eplst_) log.log("AppDelegate -> Stored downloadedEpisodeList is not a record.");
    pruneLocked(shippedEpisodes);
}

// Drops episode flags of titles that are no longer followed.
void StoredLists::pruneLocked(const PlistValue& shippedEpisodes) {
    if (eplst_ && *eplst_ == shippedEpisodes) return;
    PlistValue::Dictionary kept;
    if (eplst_) {
        for (const auto& [title, flags] : *eplst_->asDictionary()) {
            if (titleIndex_.count(title) != 0) kept.emplace(title, flags);
        }
    }
    eplst_ = PlistValue::dictionary(std::move(kept));
    // An empty result is kept in memory only: the stored record stays as it was.
    if (!eplst_->asDictionary()->empty()) {
        defaults_.setObject(*eplst_, defaultsKey::kDownloadedEpisodeList);
    }
}

std::optional<PlistValue> StoredLists::downloadList() const {
    std::lock_guard lock(mutex_);
    return dlst_;
}

std::optional<PlistValue> StoredLists::episodeList() const {
    std::lock_guard lock(mutex_);
    return eplst_;
}

void StoredLists::setDownloadList(const PlistValue& list) {
    {
        std::lock_guard lock(mutex_);
        setDownloadListLocked(list);
    }
    defaults_.setObject(list, defaultsKey::kAutoDownloadList);
}

void StoredLists::setEpisodeList(const PlistValue& record) {
    std::lock_guard lock(mutex_);
    eplst_ = record;
    defaults_.setObject(record, defaultsKey::kDownloadedEpisodeList);
}

void StoredLists::updateEpisodeList(
    const std::function<PlistValue(const PlistValue&, const PlistValue&)>& record) {
    // Read, compute and replace under one lock so that two episodes finishing at once are both
    // recorded.
    std::lock_guard lock(mutex_);
    eplst_ = record(eplst_.value_or(PlistValue::dictionary()), dlst_.value_or(PlistValue::array()));
    defaults_.setObject(*eplst_, defaultsKey::kDownloadedEpisodeList);
}

PlistValue StoredLists::completedRequest(PlistValue request) const {
    const std::string title = request.stringFor(key::kTitle);
    std::lock_guard lock(mutex_);
    const auto found = titleIndex_.find(title);
    if (!dlst_ || found == titleIndex_.end() || !request.isDictionary()) return request;
    if (const auto* entries = (*dlst_->asArray())[found->second].asDictionary()) {
        for (const auto& [k, v] : *entries) request.asDictionary()->insert_or_assign(k, v);
    }
    return request;
}

void StoredLists::clear() {
    std::lock_guard lock(mutex_);
    setDownloadListLocked(std::nullopt);
    eplst_.reset();
}

// The list and the index of its titles.
void StoredLists::setDownloadListLocked(std::optional<PlistValue> list) {
    dlst_ = std::move(list);
    titleIndex_.clear();
    if (!dlst_) return;
    const PlistValue::Array& records = *dlst_->asArray();
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (const PlistValue* title = records[i].find(key::kTitle); title && title->isString()) {
            titleIndex_.emplace(*title->asString(), i);
        }
    }
}

}  // namespace kestrova
