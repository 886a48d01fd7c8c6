#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/plist/PlistValue.h"

namespace kestrova {

// What an episode page of the video site says, worked out from its text alone: the video's
// title, whether it is a high-quality upload, the episode number, whether that episode is
// already downloaded, and the video sources to request. No network, no logging: the scan turns
// the result into log lines and download requests.
class EpisodePageAnalysis {
public:
    enum class Outcome {
        TooFewLines,        // fewer than 3 lines
        NoTitleLine,        // no line with "<title>", or it does not begin with it
        NotHighQuality,     // no quality mark in the title
        NoEpisode,          // no episode number from 1 to kMaxEpisode
        AlreadyDownloaded,  // the episode record has the episode
        NewEpisode,         // request every source in `sources`
    };

    struct Result {
        Outcome outcome = Outcome::TooFewLines;
        std::string pageTitle;  // from NotHighQuality on
        std::int32_t episode = 0;
        std::string episodeName;           // from AlreadyDownloaded on
        std::vector<std::string> sources;  // NewEpisode: http and https URLs, page order
        // NewEpisode: lines that offered no usable URL, and sources that are not http(s).
        int unreadableDisplayLines = 0;
        int unreadableSpareSources = 0;
        int refusedSources = 0;
    };

    // Highest episode number acted on; a larger one cannot be a real episode and would make
    // the episode flags absurdly long.
    static constexpr std::int32_t kMaxEpisode = 9999;

    // page: the page's text; title: the anime record's "title"; episodeFlags: the title's
    // entry of the episode record, or nullptr.
    static Result analyze(std::string_view page, const std::string& title,
                          const PlistValue* episodeFlags);

    static bool isHighQuality(std::string_view pageTitle);
    // The number read from the title's words; may lie outside 1 to kMaxEpisode.
    static std::int32_t episodeNumber(std::string_view pageTitle);
    // "<title> (NN)": one leading "0" for 1 to 9.
    static std::string episodeName(const std::string& title, std::int32_t episode);
    static bool isDownloaded(const PlistValue* episodeFlags, std::int32_t episode);
};

}  // namespace kestrova
