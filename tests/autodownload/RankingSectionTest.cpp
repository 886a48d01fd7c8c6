// Cutting the ranking out of the top page and finding keywords in its title blocks, checked
// against a plain block-by-block search on generated pages.
#include <gtest/gtest.h>

#include <random>

#include "autodownload/KeywordMatcher.h"
#include "autodownload/RankingSection.h"
#include "fixtures/FixtureSite.h"
#include "support/ParamName.h"

namespace kestrova {
namespace {

using test::FixtureSite;

const std::string kRanking(RankingSection::kRankingHeading);
const std::string kNew(RankingSection::kNewUploadsHeading);

std::optional<std::string> pathFor(std::string_view page, std::string_view keyword) {
    const auto ranking = RankingSection::cut(page);
    if (!ranking) return std::nullopt;
    return ranking->findEpisodePaths({keyword}).front();
}

struct SearchCase {
    const char* name;
    std::string page;
    std::string keyword;
    std::optional<std::string> path;
};

class RankingSearchTest : public ::testing::TestWithParam<SearchCase> {};

TEST_P(RankingSearchTest, FindsThePathOfTheLastMatchingBlock) {
    EXPECT_EQ(pathFor(GetParam().page, GetParam().keyword), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, RankingSearchTest,
    ::testing::Values(
        SearchCase{"LaterBlockWins",
                   FixtureSite::topPage({FixtureSite::titleBlock("w/1", "Foo 1"),
                                         FixtureSite::titleBlock("w/2", "Bar"),
                                         FixtureSite::titleBlock("w/3", "Foo 2")},
                                        {}),
                   "Foo", "w/3"},
        SearchCase{"OnlyUnderNewUploads",
                   FixtureSite::topPage({FixtureSite::titleBlock("w/2", "Bar")},
                                        {FixtureSite::titleBlock("w/1", "Foo")}),
                   "Foo", std::nullopt},
        SearchCase{"BeforeTheRanking",
                   FixtureSite::titleBlock("w/0", "Foo") +
                       FixtureSite::topPage({FixtureSite::titleBlock("w/2", "Bar")}, {}),
                   "Foo", std::nullopt},
        SearchCase{"SecondRankingHeadingEndsTheSection",
                   kRanking + FixtureSite::titleBlock("w/1", "Bar") + kRanking +
                       FixtureSite::titleBlock("w/2", "Foo"),
                   "Foo", std::nullopt},
        SearchCase{"WithoutNewUploadsRunsToTheEnd",
                   kRanking + FixtureSite::titleBlock("w/1", "Bar") +
                       FixtureSite::titleBlock("w/2", "Foo"),
                   "Foo", "w/2"},
        SearchCase{"PieceBeforeTheFirstMarkerCounts",
                   kRanking + "<a href=\"./w/0\">Foo</a>" + FixtureSite::titleBlock("w/1", "Bar"),
                   "Foo", "w/0"},
        SearchCase{"KeywordInABlockWithoutLink",
                   kRanking + "<div class=\"home_title\"><a href=\"/w/1\">Foo</a>", "Foo",
                   std::nullopt},
        SearchCase{
            "LinkInAnotherBlockDoesNotHelp",
            kRanking + "<div class=\"home_title\">Foo" + FixtureSite::titleBlock("w/1", "Bar"),
            "Foo", std::nullopt},
        SearchCase{"EmptyRelativePath", kRanking + FixtureSite::titleBlock("", "Foo"), "Foo", ""},
        SearchCase{"PathEndsAtTheNextLink",
                   kRanking + "<div class=\"home_title\">Foo href=\"./w/1 href=\"./w/2\"", "Foo",
                   "w/1 "},
        SearchCase{"PathRunsToTheEndOfTheBlock",
                   kRanking + "<div class=\"home_title\">Foo href=\"./w/1" + kNew, "Foo", "w/1"},
        SearchCase{"FirstLinkOfTheBlockIsUsed",
                   kRanking + "<div class=\"home_title\"><a href=\"./w/1\">x</a><a "
                              "href=\"./w/2\">Foo</a>",
                   "Foo", "w/1"},
        SearchCase{"KeywordAcrossABlockMarkerIsNoMatch",
                   kRanking + FixtureSite::titleBlock("w/1", "Fo") + "<div class=\"home_title\">o",
                   "/a></div>\n<div", std::nullopt},
        SearchCase{"CaseMatters", FixtureSite::topPage({FixtureSite::titleBlock("w/1", "foo")}, {}),
                   "Foo", std::nullopt},
        SearchCase{"EmptyKeywordNeverMatches",
                   FixtureSite::topPage({FixtureSite::titleBlock("w/1", "Foo")}, {}), "",
                   std::nullopt}),
    test::ParamName());

TEST(RankingSectionTest, PageWithoutRankingHeadingHasNoSection) {
    EXPECT_FALSE(RankingSection::cut("<h2 class=\"home_head\">30分の再生数 TOP10</h2>"));
    EXPECT_FALSE(RankingSection::cut(""));
    const auto empty = RankingSection::cut(kRanking);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->blockCount(), 1u);
    EXPECT_EQ(empty->findEpisodePaths({"Foo"}).front(), std::nullopt);
}

TEST(RankingSectionTest, SharedAndOverlappingKeywordsAreFoundEachOnItsOwn) {
    const std::string page = FixtureSite::topPage(
        {FixtureSite::titleBlock("w/1", "ソラノカナタ 第1話"),
         FixtureSite::titleBlock("w/2", "カナタ"), FixtureSite::titleBlock("w/3", "ナタデココ")},
        {});
    const auto ranking = RankingSection::cut(page);
    ASSERT_TRUE(ranking);
    const std::vector<std::optional<std::string>> expected{"w/1", "w/2",        "w/3",
                                                           "w/2", std::nullopt, "w/1"};
    EXPECT_EQ(ranking->findEpisodePaths(
                  {"ソラノカナタ", "カナタ", "ナタ", "カナタ", "ソラノカナタ 第2話", "第1話"}),
              expected);
}

// The plain search: every block, one keyword at a time.
std::optional<std::string> plainSearch(const RankingSection& ranking, std::string_view keyword) {
    std::optional<std::string> path;
    for (std::size_t i = 0; i < ranking.blockCount(); ++i) {
        const std::string_view block = ranking.block(i);
        const std::size_t link = block.find(RankingSection::kLinkMarker);
        if (keyword.empty() || block.find(keyword) == std::string_view::npos ||
            link == std::string_view::npos) {
            continue;
        }
        const std::string_view rest = block.substr(link + RankingSection::kLinkMarker.size());
        path = std::string(
            rest.substr(0, std::min(rest.find('"'), rest.find(RankingSection::kLinkMarker))));
    }
    return path;
}

TEST(RankingSectionTest, AgreesWithThePlainSearchOnGeneratedPages) {
    // Short texts from a small alphabet of markup pieces, so keywords often occur, overlap
    // each other and run across block markers.
    const std::vector<std::string> pieces{
        "a",  "b",  "ab", "\"", "<div class=\"home_title\">", "href=\"./", "カ",
        "ナ", "タ", "\n", " "};
    std::mt19937 random(20261206);
    auto text = [&](std::size_t count) {
        std::string out;
        for (std::size_t i = 0; i < count; ++i) out += pieces[random() % pieces.size()];
        return out;
    };
    for (int round = 0; round < 300; ++round) {
        const std::string page = text(5) + kRanking + text(random() % 200) + kNew + text(5);
        std::vector<std::string> keywords;
        for (int k = 0; k < 8; ++k) keywords.push_back(text(random() % 4));
        const std::vector<std::string_view> views(keywords.begin(), keywords.end());
        const auto ranking = RankingSection::cut(page);
        ASSERT_TRUE(ranking);
        const auto found = ranking->findEpisodePaths(views);
        for (std::size_t k = 0; k < views.size(); ++k) {
            ASSERT_EQ(found[k], plainSearch(*ranking, views[k]))
                << "keyword \"" << keywords[k] << "\" on page \"" << page << "\"";
        }
    }
}

TEST(KeywordMatcherTest, TooLargeAKeywordSetIsRefusedNotBuilt) {
    // Every byte value, in keywords long enough together to exceed the table limit.
    std::string keyword;
    for (int i = 0; i < 256; ++i) keyword.push_back(static_cast<char>(i));
    const std::vector<std::string_view> views(KeywordMatcher::kMaxCells / 256 / 256 + 1, keyword);
    EXPECT_FALSE(KeywordMatcher(views).usable());
    EXPECT_TRUE(KeywordMatcher({keyword}).usable());
}

TEST(RankingSectionTest, KeywordSetsBeyondOneTableAreStillAllSearched) {
    // Many distinct keywords (several automatons' worth) and one keyword too long for any.
    std::vector<std::string> keywords;
    for (int i = 0; keywords.size() * 40 <= 3 * KeywordMatcher::kMaxKeywordBytes; ++i) {
        keywords.push_back("作品" + std::to_string(i) + std::string(30, 'x'));
    }
    keywords.push_back(std::string(KeywordMatcher::kMaxKeywordBytes + 1, 'y'));
    std::vector<std::string> blocks;
    for (const std::size_t k :
         {std::size_t{0}, keywords.size() / 2, keywords.size() - 2, keywords.size() - 1}) {
        blocks.push_back(FixtureSite::titleBlock("w/" + std::to_string(k), keywords[k]));
    }
    const std::string page = FixtureSite::topPage(blocks, {});
    const auto ranking = RankingSection::cut(page);
    ASSERT_TRUE(ranking);
    const std::vector<std::string_view> views(keywords.begin(), keywords.end());
    const auto found = ranking->findEpisodePaths(views);
    for (std::size_t k = 0; k < keywords.size(); ++k) {
        ASSERT_EQ(found[k], plainSearch(*ranking, views[k])) << "keyword " << k;
    }
    EXPECT_EQ(found.back(), "w/" + std::to_string(keywords.size() - 1));
    EXPECT_EQ(found[keywords.size() / 2], "w/" + std::to_string(keywords.size() / 2));
}

}  // namespace
}  // namespace kestrova
