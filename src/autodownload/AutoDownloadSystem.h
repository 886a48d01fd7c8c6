#pragma once

#include <optional>
#include <string>

#include "platform/PlatformServices.h"
#include "platform/PlistValue.h"

namespace kestrova {

// The automatic episode finder. One scan (analyzeWithURL) refreshes the download list from the
// maker's server, reads the video site's ranking, matches the followed titles' keywords and
// analyses each matching episode page, posting "updateDefaults_dlst" and "downloadRequest".
// It also keeps the episode record's rules (eplstManager). Runs on the main thread.
class AutoDownloadSystem {
public:
    AutoDownloadSystem(const PlatformServices& platform, bool debug);

    bool isEnable() const { return isEnable_; }
    void setIsEnable(bool enable) { isEnable_ = enable; }

    // One whole scan of the site whose top page is url; the lists may be absent.
    void analyzeWithURL(const std::string& url, const std::optional<PlistValue>& downloadList,
                        const std::optional<PlistValue>& episodeList);

    // The episode record with the episode named file ("<title> (NN)") recorded as downloaded.
    PlistValue eplstManager(const std::string& file, const PlistValue& episodeList,
                            const PlistValue& downloadList) const;

    // The fetched list with each record's "status" taken from the stored list where the title
    // was already known.
    static PlistValue mergeList(const PlistValue& fetched,
                                const std::optional<PlistValue>& stored);

private:
    const PlatformServices& platform_;
    bool debug_;
    bool isEnable_ = false;
};

}  // namespace kestrova
