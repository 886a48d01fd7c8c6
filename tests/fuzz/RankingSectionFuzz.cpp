// libFuzzer target: cutting a top page into its ranking and searching it for keywords. The
// one-pass search must agree with the plain block-by-block search on every input.
//
// Input: a first byte k, then k keywords each led by its length byte, then the page.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "autodownload/RankingSection.h"

namespace {

using kestrova::RankingSection;

std::optional<std::string> plainSearch(const RankingSection& ranking, std::string_view keyword) {
    std::optional<std::string> path;
    for (std::size_t i = 0; i < ranking.blockCount(); ++i) {
        const std::string_view block = ranking.block(i);
        const std::size_t link = block.find(RankingSection::kLinkMarker);
        if (keyword.empty() || link == std::string_view::npos ||
            block.find(keyword) == std::string_view::npos) {
            continue;
        }
        const std::string_view rest = block.substr(link + RankingSection::kLinkMarker.size());
        path = std::string(
            rest.substr(0, std::min(rest.find('"'), rest.find(RankingSection::kLinkMarker))));
    }
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    if (input.empty()) return 0;
    const std::size_t count = static_cast<unsigned char>(input.front()) % 16;
    input.remove_prefix(1);
    std::vector<std::string_view> keywords;
    for (std::size_t k = 0; k < count && !input.empty(); ++k) {
        const std::size_t length =
            std::min<std::size_t>(static_cast<unsigned char>(input.front()), input.size() - 1);
        keywords.push_back(input.substr(1, length));
        input.remove_prefix(1 + length);
    }
    const auto ranking = RankingSection::cut(input);
    if ((input.find(RankingSection::kRankingHeading) != std::string_view::npos) !=
        ranking.has_value()) {
        std::abort();
    }
    if (!ranking) return 0;
    const auto found = ranking->findEpisodePaths(keywords);
    if (found.size() != keywords.size()) std::abort();
    for (std::size_t k = 0; k < keywords.size(); ++k) {
        if (found[k] != plainSearch(*ranking, keywords[k])) std::abort();
    }
    return 0;
}
