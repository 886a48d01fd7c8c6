#include "autodownload/EpisodePageAnalysis.h"

#include <optional>

#include "platform/net/HttpUrl.h"
#include "platform/text/TextUtil.h"

namespace kestrova {
namespace {

constexpr std::string_view kTitleTag = "<title>";
constexpr std::string_view kSiteSuffix = " - ひまわり動画</title>";
constexpr std::string_view kDisplayLine = "var display_movie_url";
constexpr std::string_view kSpareLine = "var ary_spare_sources";

// Calls onLine for every piece of text between line feeds, empty ones included.
template <typename OnLine>
void forEachLine(std::string_view text, OnLine&& onLine) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        onLine(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) return;
        start = end + 1;
    }
}

bool hasThreeLines(std::string_view text) {
    const std::size_t first = text.find('\n');
    return first != std::string_view::npos && text.find('\n', first + 1) != std::string_view::npos;
}

// The first line holding "<title>", when it begins with it.
std::optional<std::string_view> titleLine(std::string_view text) {
    const std::size_t tag = text.find(kTitleTag);
    if (tag == std::string_view::npos) return std::nullopt;
    if (tag != 0 && text[tag - 1] != '\n') return std::nullopt;
    const std::size_t end = text.find('\n', tag);
    return text.substr(tag, end == std::string_view::npos ? end : end - tag);
}

// The display line's value: between its first and second "'", percent-decoded.
std::optional<std::string> displayURL(std::string_view line) {
    const std::size_t open = line.find('\'');
    if (open == std::string_view::npos) return std::nullopt;
    const std::string_view rest = line.substr(open + 1);
    return TextUtil::percentDecodeUtf8(rest.substr(0, rest.find('\'')));
}

// Candidate sources in page order: the last display line's URL and the spare sources after it.
// A display line without a usable URL leaves no list, like a page without a display line.
void collectSources(std::string_view text, EpisodePageAnalysis::Result& result) {
    std::optional<std::vector<std::string>> candidates;
    forEachLine(text, [&](std::string_view line) {
        if (TextUtil::startsWith(line, kDisplayLine)) {
            std::optional<std::string> url = displayURL(line);
            if (!url) ++result.unreadableDisplayLines;
            candidates.reset();
            if (url) candidates.emplace(1, std::move(*url));
        } else if (TextUtil::startsWith(line, kSpareLine) && candidates) {
            for (std::size_t start = 0;;) {
                const std::size_t quote = line.find('"', start);
                const std::string_view piece =
                    line.substr(start, quote == std::string_view::npos ? quote : quote - start);
                if (TextUtil::startsWith(piece, "http")) {
                    std::optional<std::string> url = TextUtil::percentDecodeUtf8(piece);
                    if (url) {
                        candidates->push_back(std::move(*url));
                    } else {
                        ++result.unreadableSpareSources;
                    }
                }
                if (quote == std::string_view::npos) break;
                start = quote + 1;
            }
        }
    });
    if (!candidates) return;
    for (std::string& url : *candidates) {
        // Only web addresses are ever requested: never a local file because a page said so.
        if (HttpUrl::normalize(url)) {
            result.sources.push_back(std::move(url));
        } else {
            ++result.refusedSources;
        }
    }
}

}  // namespace

EpisodePageAnalysis::Result EpisodePageAnalysis::analyze(std::string_view page,
                                                         const std::string& title,
                                                         const PlistValue* episodeFlags) {
    Result result;
    std::string withoutTabs;
    std::string_view text = page;
    if (page.find('\t') != std::string_view::npos) {
        withoutTabs = TextUtil::replaceAll(page, "\t", "");
        text = withoutTabs;
    }
    if (!hasThreeLines(text)) return result;
    const std::optional<std::string_view> line = titleLine(text);
    if (!line) {
        result.outcome = Outcome::NoTitleLine;
        return result;
    }
    result.pageTitle =
        TextUtil::replaceAll(TextUtil::replaceAll(*line, kTitleTag, ""), kSiteSuffix, "");
    result.episode = episodeNumber(result.pageTitle);
    if (!isHighQuality(result.pageTitle)) {
        result.outcome = Outcome::NotHighQuality;
        return result;
    }
    if (result.episode < 1 || result.episode > kMaxEpisode) {
        result.outcome = Outcome::NoEpisode;
        return result;
    }
    result.episodeName = episodeName(title, result.episode);
    if (isDownloaded(episodeFlags, result.episode)) {
        result.outcome = Outcome::AlreadyDownloaded;
        return result;
    }
    result.outcome = Outcome::NewEpisode;
    collectSources(text, result);
    return result;
}

bool EpisodePageAnalysis::isHighQuality(std::string_view pageTitle) {
    for (const std::string_view mark : {"追加", "HD", "高画質", "200MB"}) {
        if (TextUtil::contains(pageTitle, mark)) return true;
    }
    return false;
}

// Walks the title's words (cut at every space) until one reads as a number from 1 to 29; the
// value of the last word read stays otherwise.
std::int32_t EpisodePageAnalysis::episodeNumber(std::string_view pageTitle) {
    std::int32_t episode = 0;
    for (std::size_t start = 0;;) {
        const std::size_t space = pageTitle.find(' ', start);
        const std::string_view word =
            pageTitle.substr(start, space == std::string_view::npos ? space : space - start);
        std::optional<std::int32_t> read;
        if (TextUtil::contains(word, "期")) {
            // A season ("2期"), never the episode.
        } else if (TextUtil::startsWith(word, "#")) {
            read = TextUtil::leadingInteger(TextUtil::replaceAll(word, "#", ""));
        } else if (TextUtil::startsWith(word, "第")) {
            read = TextUtil::leadingInteger(TextUtil::replaceAll(word, "第", ""));
        } else if (TextUtil::startsWith(word, "episode")) {
            if (!TextUtil::endsWith(word, "episode")) {
                read = TextUtil::leadingInteger(TextUtil::replaceAll(word, "episode", ""));
            }
        } else if (!TextUtil::contains(word, "MB")) {
            read = TextUtil::leadingInteger(word);
        }
        if (read) {
            episode = *read;
            if (episode >= 1 && episode < 30) return episode;
        }
        if (space == std::string_view::npos) return episode;
        start = space + 1;
    }
}

std::string EpisodePageAnalysis::episodeName(const std::string& title, std::int32_t episode) {
    std::string name = title + " (";
    if (episode >= 1 && episode <= 9) name += '0';
    return name + std::to_string(episode) + ")";
}

bool EpisodePageAnalysis::isDownloaded(const PlistValue* episodeFlags, std::int32_t episode) {
    const PlistValue::Array* flags = episodeFlags != nullptr ? episodeFlags->asArray() : nullptr;
    if (flags == nullptr || episode < 0) return false;
    const auto index = static_cast<std::size_t>(episode);
    return index < flags->size() && (*flags)[index].isTrue();
}

}  // namespace kestrova
