#include "autodownload/RankingSection.h"

#include <algorithm>
#include <functional>

#include "autodownload/KeywordMatcher.h"

namespace kestrova {
namespace {

// The relative path of a block's first link: up to the first '"', the next link marker or the
// end of the block, whichever comes first.
std::optional<std::string_view> linkPath(std::string_view block) {
    const std::size_t link = block.find(RankingSection::kLinkMarker);
    if (link == std::string_view::npos) return std::nullopt;
    std::string_view rest = block.substr(link + RankingSection::kLinkMarker.size());
    const std::size_t quote = rest.find('"');
    const std::size_t nextLink = rest.find(RankingSection::kLinkMarker);
    return rest.substr(0, std::min(quote, nextLink));
}

}  // namespace

std::optional<RankingSection> RankingSection::cut(std::string_view page) {
    const std::size_t heading = page.find(kRankingHeading);
    if (heading == std::string_view::npos) return std::nullopt;
    std::string_view section = page.substr(heading + kRankingHeading.size());
    section = section.substr(0, section.find(kRankingHeading));
    section = section.substr(0, section.find(kNewUploadsHeading));
    return RankingSection(section);
}

RankingSection::RankingSection(std::string_view section) : section_(section) {
    // The marker begins with '<', the commonest byte of a page: skipping by its last bytes is
    // several times faster than the plain search here.
    const std::boyer_moore_horspool_searcher searcher(kTitleBlockMarker.begin(),
                                                      kTitleBlockMarker.end());
    std::size_t begin = 0;
    for (;;) {
        const auto found = std::search(section_.begin() + static_cast<std::ptrdiff_t>(begin),
                                       section_.end(), searcher);
        const std::size_t marker = found == section_.end()
                                       ? std::string_view::npos
                                       : static_cast<std::size_t>(found - section_.begin());
        const std::size_t end = marker == std::string_view::npos ? section_.size() : marker;
        Block block{begin, end, linkPath(section_.substr(begin, end - begin))};
        blocks_.push_back(block);
        if (marker == std::string_view::npos) break;
        begin = marker + kTitleBlockMarker.size();
    }
}

std::string_view RankingSection::block(std::size_t index) const {
    const Block& b = blocks_.at(index);
    return section_.substr(b.begin, b.end - b.begin);
}

std::vector<std::optional<std::string>> RankingSection::findEpisodePaths(
    const std::vector<std::string_view>& keywords) const {
    const std::vector<std::optional<std::size_t>> found = lastMatchingBlocks(keywords);
    std::vector<std::optional<std::string>> paths(keywords.size());
    for (std::size_t k = 0; k < keywords.size(); ++k) {
        if (found[k]) paths[k] = std::string(*blocks_[*found[k]].path);
    }
    return paths;
}

// One walk of the whole section for all keywords; an occurrence counts only inside one block
// (never across a title-block marker) and only in a block with a link.
std::vector<std::optional<std::size_t>> RankingSection::lastMatchingBlocks(
    const std::vector<std::string_view>& keywords) const {
    const KeywordMatcher matcher(keywords);
    if (!matcher.usable()) return lastMatchingBlocksOneByOne(keywords);
    std::vector<std::optional<std::size_t>> found(keywords.size());
    std::size_t current = 0;  // the first block that does not end before the occurrence does
    matcher.scan(section_, [&](std::size_t keyword, std::size_t end) {
        while (blocks_[current].end < end) ++current;
        const Block& b = blocks_[current];
        if (b.path && b.begin + keywords[keyword].size() <= end) found[keyword] = current;
    });
    return found;
}

// The plain search, for keyword sets too large for the matcher's table.
std::vector<std::optional<std::size_t>> RankingSection::lastMatchingBlocksOneByOne(
    const std::vector<std::string_view>& keywords) const {
    std::vector<std::optional<std::size_t>> found(keywords.size());
    for (std::size_t k = 0; k < keywords.size(); ++k) {
        if (keywords[k].empty()) continue;
        for (std::size_t i = blocks_.size(); i-- > 0;) {
            if (blocks_[i].path && block(i).find(keywords[k]) != std::string_view::npos) {
                found[k] = i;
                break;
            }
        }
    }
    return found;
}

}  // namespace kestrova
