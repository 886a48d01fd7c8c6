#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/plist/PlistValue.h"

namespace kestrova {

class SystemLog;
class UserDefaults;

// The two lists of the automatic system as the application keeps them: the download list
// ("autoDownloadList", with an index of its titles) and the episode record
// ("downloadedEpisodeList"), each written to the user defaults when it changes. Read and
// changed from the main thread, the scan's start and the download threads, so every method takes
// the lists' lock; a change of the episode record is read, computed and replaced under it.
class StoredLists {
public:
    explicit StoredLists(UserDefaults& defaults) : defaults_(defaults) {}

    // The stored lists at launch (a value of the wrong type is logged and reads as absent), then
    // the episode record pruned to the followed titles unless it is the shipped one; an empty
    // result is kept in memory only.
    void load(const PlistValue& shippedEpisodes, SystemLog& log);

    std::optional<PlistValue> downloadList() const;
    std::optional<PlistValue> episodeList() const;
    void setDownloadList(const PlistValue& list);
    void setEpisodeList(const PlistValue& record);
    // record(current record, download list) becomes the episode record, stored.
    void updateEpisodeList(
        const std::function<PlistValue(const PlistValue&, const PlistValue&)>& record);
    // The request with every entry of the first record of its "title" added, the record's
    // values replacing the request's.
    PlistValue completedRequest(PlistValue request) const;
    void clear();

private:
    void setDownloadListLocked(std::optional<PlistValue> list);
    void pruneLocked(const PlistValue& shippedEpisodes);

    UserDefaults& defaults_;
    mutable std::mutex mutex_;
    std::optional<PlistValue> dlst_;
    std::unordered_map<std::string, std::size_t> titleIndex_;  // first record of each title
    std::optional<PlistValue> eplst_;
};

}  // namespace kestrova
