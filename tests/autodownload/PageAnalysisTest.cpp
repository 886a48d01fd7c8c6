// The video site's pages, read without the network: the episode page analysis, and the ranking
// cut out of the top page and searched for keywords. That the one-walk search agrees with the
// plain block-by-block search on any page is the ranking fuzz target's check.
#include <gtest/gtest.h>

#include "autodownload/EpisodePageAnalysis.h"
#include "autodownload/KeywordMatcher.h"
#include "autodownload/RankingSection.h"
#include "demo/DemoSite.h"

namespace kestrova {
namespace {

using Outcome = EpisodePageAnalysis::Outcome;
using Sources = std::vector<std::string>;
using Paths = std::vector<std::optional<std::string>>;

// A row per branch, for the title Foo, whose record marks episode 2 only. A row without a page
// reads a page offering http://v/1 for a video titled title.
TEST(EpisodePageAnalysisTest, AnalysesEachPage) {
    const PlistValue recorded = PlistValue::array(  // the integer 1 marks nothing
        {PlistValue::boolean(false), PlistValue::integer(1), PlistValue::boolean(true)});
    const std::string title = "<title>Foo 第5話 HD - ひまわり動画</title>\n";
    const std::string display = "var display_movie_url = 'http://v/a%20b.mp4';\n";
    const std::string shown = "http://v/a b.mp4";  // decoded, and not encoded again
    // Two web addresses, one not UTF-8 and one that never looks like a source.
    const std::string spares =
        "var ary_spare_sources = {\"s\":[{\"src\":\"http://m1/5\"},"
        "{\"src\":\"https://m2/5\"},{\"src\":\"http://m/%C3\"},{\"src\":\"ftp://m3/5\"}]};\n";
    const std::string t5 = "Foo 第5話 HD", n5 = "Foo (05)";
    const Sources v1{"http://v/1"}, all{shown, "http://m1/5", "https://m2/5"};
    constexpr Outcome New = Outcome::NewEpisode, None = Outcome::NoEpisode;
    const struct {
        std::string title, page, name;
        Outcome outcome;
        std::int32_t episode;
        Sources sources;
        std::array<int, 3> skipped{};  // unreadable display lines and spares, not http(s)
    } rows[] = {
        // clang-format off
        {"Foo #10 高画質", "", "Foo (10)", New, 10, v1},
        {"Foo 2期 第3話 HD", "", "Foo (03)", New, 3, v1},  // the season word is skipped
        {"Foo episode09 HD", "", "Foo (09)", New, 9, v1},
        {"Foo 200MB 25MB 4", "", "Foo (04)", New, 4, v1},  // size words are no numbers
        {"Foo 追加 第1話", "", "Foo (01)", New, 1, v1},
        {"Foo 第2話 HD", "", "Foo (02)", Outcome::AlreadyDownloaded, 2, {}},
        {"Foo 第30話 HD", "", "", None, 0, {}},  // 30 is passed over
        {"Foo HD 第30話 episode", "", "Foo (30)", New, 30, v1},  // the last word read keeps it
        {"Foo HD 第9999話", "", "Foo (9999)", New, 9999, v1},
        {"Foo HD 第10000話", "", "", None, 10000, {}},
        {"Foo 第5話", "", "", Outcome::NotHighQuality, 5, {}},
        {t5, title + display + spares, n5, New, 5, all, {0, 1, 0}},
        {t5, title + spares + display, n5, New, 5, {shown}},  // spares before it are dropped
        {t5, title + display + spares + "var display_movie_url = no quote\n", n5, New, 5, {}, {1, 1, 0}},
        {t5, title + "var display_movie_url = 'file:///x';\n" + spares, n5, New, 5, {all[1], all[2]}, {0, 1, 1}},
        {t5, title + display, n5, New, 5, {shown}},  // three lines, the last empty
        {"", title + "var display_movie_url = 'http://v/1'", "", Outcome::TooFewLines, 0, {}},
        {"", "<html>\n<body>\n</body>\n", "", Outcome::NoTitleLine, 0, {}},
        // The first "<title>" counts, and it must begin its line.
        {"", "<p><title>\n" + title + "\n", "", Outcome::NoTitleLine, 0, {}},
        // clang-format on
    };
    for (const auto& row : rows) {
        const auto r = EpisodePageAnalysis::analyze(
            row.page.empty() ? DemoSite::episodePage(row.title, v1[0], {}) : row.page, "Foo",
            &recorded);
        EXPECT_EQ(std::tie(r.outcome, r.pageTitle, r.episode, r.episodeName, r.sources),
                  std::tie(row.outcome, row.title, row.episode, row.name, row.sources))
            << row.title << row.page;
        EXPECT_EQ(
            (std::array{r.unreadableDisplayLines, r.unreadableSpareSources, r.refusedSources}),
            row.skipped)
            << row.title << row.page;
    }
}

const std::string kRanking(RankingSection::kRankingHeading);
const std::string kNew(RankingSection::kNewUploadsHeading);
const std::string kMarker(RankingSection::kTitleBlockMarker);
const auto& block = DemoSite::titleBlock;

// For each keyword, the path of the last block in the ranking that holds it and has a link.
TEST(RankingSectionTest, FindsThePathOfTheLastMatchingBlockInTheRanking) {
    const std::string keywords =
        kRanking + block("w/1", "カナ") + block("w/2", "アカナ") + block("w/3", "ナ ア") + kNew;
    const std::tuple<const char*, std::string, std::vector<std::string_view>, Paths> rows[] = {
        // clang-format off
        {"OnlyUnderNewUploads", kRanking + kNew + block("w/1", "Foo"), {"Foo"}, {{}}},
        {"BeforeTheRanking", block("w/0", "Foo") + kRanking, {"Foo"}, {{}}},
        {"NoRankingHeading", "<h2 class=\"home_head\">30分の再生数 TOP10</h2>" + block("w", "Foo"), {"Foo"}, {{}}},
        {"SecondRankingHeadingEndsIt", kRanking + kMarker + kRanking + block("w/2", "Foo"), {"Foo"}, {{}}},
        {"WithoutNewUploadsRunsToTheEnd", kRanking + block("w/1", "B") + block("w/2", "Foo"), {"Foo"}, {"w/2"}},
        {"PieceBeforeTheFirstMarker", kRanking + "<a href=\"./w/0\">Foo</a>" + kMarker, {"Foo"}, {"w/0"}},
        {"LinkInAnotherBlock", kRanking + kMarker + "Foo" + block("w/1", "Bar"), {"Foo"}, {{}}},
        {"PathEndsAtTheNextLink", kRanking + kMarker + "Foo href=\"./w/1 href=\"./w/2\"", {"Foo"}, {"w/1 "}},
        // Keywords inside others, repeated, empty, and running across a block marker.
        {"Keywords", keywords, {"ナ", "カナ", "アカナ", "カナ", "", "ア", "</div>\n<div", "アカ"},
         {"w/3", "w/2", "w/2", "w/2", {}, "w/3", {}, "w/2"}},
        // clang-format on
    };
    for (const auto& [name, page, words, paths] : rows) {
        const auto ranking = RankingSection::cut(page);
        EXPECT_EQ(ranking ? ranking->findEpisodePaths(words) : Paths(words.size()), paths) << name;
    }
}

// Keywords worth several automatons, and one too long for any, are all searched all the same.
TEST(RankingSectionTest, SearchesKeywordsBeyondOneAutomaton) {
    std::vector<std::string> keywords;
    while (keywords.size() * 40 <= 3 * KeywordMatcher::kMaxKeywordBytes) {
        keywords.push_back("作品" + std::to_string(keywords.size()) + std::string(30, 'x'));
    }
    keywords.push_back(std::string(KeywordMatcher::kMaxKeywordBytes + 1, 'y'));
    const std::size_t n = keywords.size();
    std::string page = kRanking;
    Paths expected(n);
    for (const std::size_t k : {0ul, n / 2, n - 2, n - 1}) {
        expected[k] = "w/" + std::to_string(k);
        page += block(*expected[k], keywords[k]);
    }
    EXPECT_EQ(RankingSection::cut(page)->findEpisodePaths({keywords.begin(), keywords.end()}),
              expected);
}

TEST(KeywordMatcherTest, TooLargeAKeywordSetIsRefusedNotBuilt) {
    std::string everyByte;
    for (int i = 0; i < 256; ++i) everyByte.push_back(static_cast<char>(i));
    const std::vector<std::string_view> many(KeywordMatcher::kMaxCells / 256 / 256 + 1, everyByte);
    EXPECT_FALSE(KeywordMatcher(many).usable());
    EXPECT_TRUE(KeywordMatcher({everyByte}).usable());
}

}  // namespace
}  // namespace kestrova
