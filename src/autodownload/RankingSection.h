#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

// The ranking of the most played videos, cut out of the video site's top page, and the search
// of its title blocks for keywords.
//
// The section is the text after the first ranking heading, up to the next ranking heading or
// the end of the page, and then before the first new-uploads heading. It is cut into title
// blocks at every "<div class="home_title">" (the piece before the first one included). A block
// matches a keyword when it contains the keyword and a link "href="./"; the link's text up to
// the next '"' is the episode page's path relative to the site.
//
// A RankingSection refers into the page it was cut from, which must outlive it.
class RankingSection {
public:
    static constexpr std::string_view kRankingHeading =
        "<h2 class=\"home_head\">30分の再生数 TOP9</h2>";
    static constexpr std::string_view kNewUploadsHeading = "<h2 class=\"home_head\">新着動画</h2>";
    static constexpr std::string_view kTitleBlockMarker = "<div class=\"home_title\">";
    static constexpr std::string_view kLinkMarker = "href=\"./";

    // Nothing when the page has no ranking heading.
    static std::optional<RankingSection> cut(std::string_view page);

    std::size_t blockCount() const { return blocks_.size(); }
    std::string_view block(std::size_t index) const;

    // For each keyword, the relative path of the last block (in page order) that matches it,
    // or nothing. Empty keywords never match.
    std::vector<std::optional<std::string>> findEpisodePaths(
        const std::vector<std::string_view>& keywords) const;

private:
    struct Block {
        std::size_t begin = 0;  // offsets into section_
        std::size_t end = 0;
        std::optional<std::string_view> path;  // the link's relative path, when it has one
    };

    explicit RankingSection(std::string_view section);
    std::vector<std::optional<std::size_t>> lastMatchingBlocks(
        const std::vector<std::string_view>& keywords) const;
    void searchTogether(const std::vector<std::string_view>& keywords,
                        const std::vector<std::size_t>& group,
                        std::vector<std::optional<std::size_t>>& found) const;
    std::optional<std::size_t> lastMatchingBlock(std::string_view keyword) const;

    std::string_view section_;
    std::vector<Block> blocks_;
};

}  // namespace kestrova
