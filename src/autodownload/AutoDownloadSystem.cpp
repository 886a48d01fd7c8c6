#include "autodownload/AutoDownloadSystem.h"

#include <cstdint>
#include <unordered_map>

#include "autodownload/AnimeRecord.h"
#include "autodownload/EpisodePageAnalysis.h"
#include "autodownload/RankingSection.h"
#include "messages/Notifications.h"
#include "platform/RunLoop.h"
#include "platform/SystemLog.h"
#include "platform/net/PageFetch.h"
#include "platform/runtime/Cancellation.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/text/TextUtil.h"

namespace kestrova {
namespace {

constexpr const char* kListPath = "/system/dlst.plist";

// Why the fetched list cannot replace the stored one, or nothing.
std::optional<std::string> listProblem(const PlistValue& list) {
    const PlistValue::Array& records = *list.asArray();
    if (records.size() > AutoDownloadSystem::kMaxRecords) {
        return "more than " + std::to_string(AutoDownloadSystem::kMaxRecords) + " records";
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (auto problem = AnimeRecord::problem(records[i])) {
            return "record " + std::to_string(i) + " " + *problem;
        }
    }
    return std::nullopt;
}

// White space or control characters cannot be part of a page address as the site wrote it.
bool isWellFormedAddress(std::string_view url) {
    for (const char c : url) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) return false;
    }
    return true;
}

}  // namespace

AutoDownloadSystem::AutoDownloadSystem(const PlatformServices& platform, bool debug)
    : platform_(platform), debug_(debug) {}

void AutoDownloadSystem::log(const std::string& event) const {
    platform_.log.log("AutoDownloadSystem -> " + event);
}

// Observers of the scan's notifications (the coordinator, the menu) live on the main thread.
void AutoDownloadSystem::postOnMainThread(const char* name, PlistValue object) const {
    NotificationCenter& center = platform_.center;
    platform_.runLoop.post(
        [&center, name, object = std::move(object)] { center.post(name, object); });
}

bool AutoDownloadSystem::stopping() const { return platform_.shutdown.isCancelled(); }

bool AutoDownloadSystem::analyzeWithURL(const std::string& url,
                                        const std::optional<PlistValue>& downloadList,
                                        const std::optional<PlistValue>& episodeList) {
    bool fetched = false;
    const std::optional<PlistValue> list = refreshList(downloadList, fetched);
    if (isEnable_) scan(url, list, episodeList);
    return fetched;
}

void AutoDownloadSystem::scan(const std::string& url, const std::optional<PlistValue>& list,
                              const std::optional<PlistValue>& episodeList) {
    log("Start Analyze.");
    if (!list || !list->isArray()) {
        log("Failed to Get AutoDownloadList.");
        return;
    }
    if (!episodeList || !episodeList->isDictionary()) {
        log("Failed to Get EpisodeList.");
        return;
    }
    const std::optional<std::string> page = PageFetch::fetchText(url, platform_.shutdown);
    if (stopping()) return;
    if (!page) {
        log("Failed to Get HTML: Top Page.");
        return;
    }
    log("Get HTML: Top Page.");
    const std::optional<RankingSection> ranking = RankingSection::cut(*page);
    if (!ranking) {
        log("Error in HTML: Top Page.");
        return;
    }
    scanRanking(url, *list->asArray(), *episodeList, *ranking);
    if (stopping()) {
        log("Stop Analyze: quitting.");
        return;
    }
    log("Terminate Analyze.");
}

// The list in use for this scan: the server's list merged with the one handed in, posted when
// it differs; the list handed in when the server gives nothing usable.
std::optional<PlistValue> AutoDownloadSystem::refreshList(
    const std::optional<PlistValue>& downloadList, bool& fetched) {
    std::string error;
    const std::optional<PlistValue> served = PageFetch::fetchPropertyListArray(
        platform_.config.serverURL + kListPath, platform_.shutdown, &error);
    if (stopping()) return downloadList;
    if (served) {
        if (auto problem = listProblem(*served)) {
            log("Rejected dlst.plist: " + *problem + ".");
        } else {
            fetched = true;
            PlistValue merged = mergeList(*served, downloadList);
            if (downloadList && *downloadList == merged) return downloadList;
            postOnMainThread(notification::kUpdateDlst, merged);
            log("Update Anime List.");
            return merged;
        }
    } else if (!error.empty()) {
        log("Rejected dlst.plist: " + TextUtil::forLog(error) + ".");
    }
    log("Failed to Update Anime List.");
    return downloadList;
}

void AutoDownloadSystem::scanRanking(const std::string& url, const PlistValue::Array& records,
                                     const PlistValue& episodeList, const RankingSection& ranking) {
    // Every followed title's keywords are searched for in one walk of the ranking; the log
    // lines then follow the list's order as if they had been searched one by one.
    std::vector<std::string_view> keywords;
    std::vector<std::size_t> firstKeyword;
    for (const PlistValue& record : records) {
        firstKeyword.push_back(keywords.size());
        if (AnimeRecord::problem(record) || AnimeRecord::isSwitchedOff(record)) continue;
        for (const std::string_view keyword : AnimeRecord::keywords(record)) {
            keywords.push_back(keyword);
        }
    }
    firstKeyword.push_back(keywords.size());
    const std::vector<std::optional<std::string>> paths = ranking.findEpisodePaths(keywords);

    for (std::size_t r = 0; r < records.size() && !stopping(); ++r) {
        const PlistValue& record = records[r];
        if (auto problem = AnimeRecord::problem(record)) {
            log("Skipped Invalid Record: record " + std::to_string(r) + " " + *problem + ".");
            continue;
        }
        if (AnimeRecord::isSwitchedOff(record)) continue;
        const std::string title = record.stringFor(key::kTitle);
        const std::string loggedTitle = TextUtil::forLog(title);
        std::optional<std::string> pageURL;
        for (std::size_t k = firstKeyword[r]; k < firstKeyword[r + 1] && !pageURL; ++k) {
            const std::string keyword = TextUtil::forLog(keywords[k]);
            log("Search Keyword: " + keyword + " in " + loggedTitle);
            if (paths[k]) {
                log("Match Keyword: " + keyword + " in " + loggedTitle);
                pageURL = url + *paths[k];
            } else {
                log("Not Found: " + keyword + " in " + loggedTitle);
            }
        }
        if (!pageURL) continue;
        if (!AnimeRecord::isFileNameSafe(title)) {
            log("Skipped Anime: its title cannot name a file: " + loggedTitle);
            continue;
        }
        analyzeEpisodePage(title, *pageURL, episodeList);
    }
}

void AutoDownloadSystem::analyzeEpisodePage(const std::string& title, const std::string& pageURL,
                                            const PlistValue& episodeList) {
    const std::optional<std::string> page = isWellFormedAddress(pageURL)
                                                ? PageFetch::fetchText(pageURL, platform_.shutdown)
                                                : std::nullopt;
    if (stopping()) return;
    const std::string loggedTitle = TextUtil::forLog(title);
    if (!page) {
        log("Failed to Get Page: " + loggedTitle);
        return;
    }
    using Outcome = EpisodePageAnalysis::Outcome;
    const EpisodePageAnalysis::Result result =
        EpisodePageAnalysis::analyze(*page, title, episodeList.find(title));
    switch (result.outcome) {
        case Outcome::TooFewLines:
            log("Get Error in _htmlArray: " + loggedTitle);
            return;
        case Outcome::NoTitleLine:
            log("Failed to Analyze Page: " + loggedTitle);
            return;
        default:
            break;
    }
    log("Get Page: " + TextUtil::forLog(result.pageTitle));
    const std::string episode = TextUtil::forLog(result.episodeName);
    if (result.outcome == Outcome::NotHighQuality) return;
    if (result.outcome == Outcome::NoEpisode) {
        log("Failed to Get Episode.");
        return;
    }
    log("HD Movie Detected: " + episode);
    if (result.outcome == Outcome::AlreadyDownloaded) {
        log("Already Downloaded: " + episode);
        return;
    }
    if (result.unreadableDisplayLines > 0) {
        log("Skipped Movie URL: unreadable display_movie_url in " + episode);
    }
    if (result.unreadableSpareSources > 0) {
        log("Skipped Movie URL: unreadable spare source in " + episode);
    }
    if (result.refusedSources > 0) log("Skipped Movie URL: not http or https in " + episode);
    for (const std::string& source : result.sources) {
        postOnMainThread(
            notification::kDownloadRequest,
            PlistValue::dictionary({{key::kURL, PlistValue::string(source)},
                                    {key::kTitle, PlistValue::string(title)},
                                    {key::kFile, PlistValue::string(result.episodeName)}}));
    }
    log("Start AutoDownload: " + episode);
}

PlistValue AutoDownloadSystem::eplstManager(const std::string& file, const PlistValue& episodeList,
                                            const PlistValue& /*downloadList*/) const {
    PlistValue record = episodeList.isDictionary() ? episodeList : PlistValue::dictionary();
    const std::size_t cut = file.find(" (");
    const std::int32_t episode =
        cut == std::string::npos ? -1 : TextUtil::leadingInteger(file.substr(cut + 2));
    if (episode < 0 || episode > EpisodePageAnalysis::kMaxEpisode) {
        log("Failed to Record Episode: " + TextUtil::forLog(file));
        return record;
    }
    const std::string title = file.substr(0, cut);
    PlistValue::Dictionary& entries = *record.asDictionary();
    const auto found = entries.find(title);
    PlistValue::Array flags;
    if (found != entries.end() && found->second.isArray()) {
        flags = *found->second.asArray();
    } else {
        flags.push_back(PlistValue::boolean(false));
    }
    const auto index = static_cast<std::size_t>(episode);
    while (flags.size() < index) flags.push_back(PlistValue::boolean(false));
    if (index == flags.size()) {
        flags.push_back(PlistValue::boolean(true));
    } else {
        flags[index] = PlistValue::boolean(true);
    }
    entries.insert_or_assign(title, PlistValue::array(std::move(flags)));
    return record;
}

PlistValue AutoDownloadSystem::mergeList(const PlistValue& fetched,
                                         const std::optional<PlistValue>& stored) {
    PlistValue merged = fetched;
    PlistValue::Array* records = merged.asArray();
    const PlistValue::Array* known = stored ? stored->asArray() : nullptr;
    if (records == nullptr || known == nullptr) return merged;
    // The first stored record of each title, found in constant time per fetched record.
    std::unordered_map<std::string_view, const PlistValue*> storedByTitle;
    for (const PlistValue& storedRecord : *known) {
        const PlistValue* title = storedRecord.find(key::kTitle);
        if (title != nullptr && title->isString())
            storedByTitle.emplace(*title->asString(), &storedRecord);
    }
    for (PlistValue& record : *records) {
        PlistValue::Dictionary* entries = record.asDictionary();
        const PlistValue* title = record.find(key::kTitle);
        if (entries == nullptr || title == nullptr || !title->isString()) continue;
        const auto found = storedByTitle.find(*title->asString());
        if (found == storedByTitle.end()) continue;
        if (const PlistValue* status = found->second->find(key::kStatus)) {
            entries->insert_or_assign(key::kStatus, *status);
        } else {
            entries->erase(key::kStatus);
        }
    }
    return merged;
}

}  // namespace kestrova
