#pragma once

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>

#include "platform/PlatformServices.h"
#include "platform/plist/PlistValue.h"

namespace kestrova {

class EpisodePageAnalysis;
class RankingSection;

// The automatic episode finder. One scan (analyzeWithURL) refreshes the download list from the
// maker's server, reads the video site's ranking, matches the followed titles' keywords and
// analyses each matching episode page, posting "updateDefaults_dlst" and "downloadRequest"
// and logging each step. It also keeps the episode record's rules (eplstManager).
//
// A scan blocks the thread that runs it while it fetches, so the application runs it on a thread
// of its own; its notifications are delivered on the main thread (through the run loop), like
// every other. Throwing the platform's shutdown switch ends a fetch in flight and the scan with
// it. The page work itself is done by RankingSection and EpisodePageAnalysis, which need no
// network.
class AutoDownloadSystem {
public:
    AutoDownloadSystem(const PlatformServices& platform, bool debug);

    // The largest download list taken from the server: every title is a menu item and a search.
    static constexpr std::size_t kMaxRecords = 10'000;

    bool isEnable() const { return isEnable_; }
    void setIsEnable(bool enable) { isEnable_ = enable; }

    // One whole scan of the site whose top page is url; the lists may be absent. Answers whether
    // the server's list could be fetched and used.
    bool analyzeWithURL(const std::string& url, const std::optional<PlistValue>& downloadList,
                        const std::optional<PlistValue>& episodeList);

    // The episode record with the episode named file ("<title> (NN)") recorded as downloaded.
    // A name without " (" or a number outside 0 to 9999 is logged and changes nothing. Safe
    // from any thread.
    PlistValue eplstManager(const std::string& file, const PlistValue& episodeList,
                            const PlistValue& downloadList) const;

    // The fetched list with each record's "status" taken from the first stored record with the
    // same title; a stored record without "status" removes it. Linear in the two lists' sizes.
    static PlistValue mergeList(const PlistValue& fetched, const std::optional<PlistValue>& stored);

private:
    std::optional<PlistValue> refreshList(const std::optional<PlistValue>& downloadList,
                                          bool& fetched);
    void scan(const std::string& url, const std::optional<PlistValue>& list,
              const std::optional<PlistValue>& episodeList);
    void scanRanking(const std::string& url, const PlistValue::Array& records,
                     const PlistValue& episodeList, const RankingSection& ranking);
    void analyzeEpisodePage(const std::string& title, const std::string& pageURL,
                            const PlistValue& episodeList);
    void log(const std::string& event) const;
    void postOnMainThread(const char* name, PlistValue object) const;
    bool stopping() const;

    const PlatformServices& platform_;
    [[maybe_unused]] bool debug_;  // kept from creation; every scan line is written regardless
    std::atomic<bool> isEnable_{false};  // set on the main thread, read by the scan
};

}  // namespace kestrova
