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

// Keywords are searched in groups small enough for one automaton each (one walk of the section
// per group; a usual list is one group). A keyword too long for any automaton is searched for
// on its own.
std::vector<std::optional<std::size_t>> RankingSection::lastMatchingBlocks(
    const std::vector<std::string_view>& keywords) const {
    std::vector<std::optional<std::size_t>> found(keywords.size());
    std::vector<std::size_t> group;
    std::size_t groupBytes = 0;
    const auto searchGroup = [&] {
        if (!group.empty()) searchTogether(keywords, group, found);
        group.clear();
        groupBytes = 0;
    };
    for (std::size_t k = 0; k < keywords.size(); ++k) {
        const std::size_t bytes = keywords[k].size();
        if (bytes == 0) continue;  // an empty keyword never matches
        if (bytes > KeywordMatcher::kMaxKeywordBytes) {
            found[k] = lastMatchingBlock(keywords[k]);
            continue;
        }
        if (groupBytes + bytes > KeywordMatcher::kMaxKeywordBytes) searchGroup();
        group.push_back(k);
        groupBytes += bytes;
    }
    searchGroup();
    return found;
}

// One walk of the blocks with a link for the keywords picked out by group. Each block is
// walked from the automaton's start, so only occurrences wholly inside it are found.
void RankingSection::searchTogether(const std::vector<std::string_view>& keywords,
                                    const std::vector<std::size_t>& group,
                                    std::vector<std::optional<std::size_t>>& found) const {
    std::vector<std::string_view> members;
    for (const std::size_t k : group) members.push_back(keywords[k]);
    const KeywordMatcher matcher(members);
    if (!matcher.usable()) {
        for (const std::size_t k : group) found[k] = lastMatchingBlock(keywords[k]);
        return;
    }
    // For each output state, the last block in which its keywords were recorded: once a state
    // is recorded in a block, so are all shorter keywords ending with it, and a keyword that
    // occurs a thousand times in a block costs one record.
    constexpr std::size_t kNoBlock = static_cast<std::size_t>(-1);
    std::vector<std::size_t> recordedIn(matcher.stateCount(), kNoBlock);
    for (std::size_t b = 0; b < blocks_.size(); ++b) {
        if (!blocks_[b].path) continue;
        const std::string_view text = block(b);
        KeywordMatcher::Cursor cursor = 0;
        for (const char byte : text) {
            cursor = matcher.next(cursor, byte);
            if (!KeywordMatcher::endsKeyword(cursor)) continue;
            for (auto out = matcher.firstOutput(cursor); out != 0; out = matcher.nextOutput(out)) {
                if (recordedIn[out] == b) break;
                recordedIn[out] = b;
                matcher.forEachKeyword(out, [&](std::size_t m) { found[group[m]] = b; });
            }
        }
    }
}

// The plain search for one keyword: the last block with a link that holds it.
std::optional<std::size_t> RankingSection::lastMatchingBlock(std::string_view keyword) const {
    for (std::size_t i = blocks_.size(); i-- > 0;) {
        if (blocks_[i].path && block(i).find(keyword) != std::string_view::npos) return i;
    }
    return std::nullopt;
}

}  // namespace kestrova
