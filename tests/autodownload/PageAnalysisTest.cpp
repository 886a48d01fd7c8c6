// The video site's pages, read without the network: the episode page analysis as one table, and
// the ranking cut out of the top page and searched for keywords, checked against the plain
// block-by-block search.
#include <gtest/gtest.h>

#include <random>

#include "autodownload/EpisodePageAnalysis.h"
#include "autodownload/KeywordMatcher.h"
#include "autodownload/RankingSection.h"
#include "demo/DemoSite.h"

namespace kestrova {
namespace {

using Outcome = EpisodePageAnalysis::Outcome;
using Sources = std::vector<std::string>;

// Analyses page for the title Foo, with Foo's entry of the episode record written as flags ('t'
// true, 'f' false, '1' the integer 1), and expects what follows.
void expectAnalysis(const std::string& page, const char* flags, Outcome outcome,
                    const std::string& pageTitle, std::int32_t episode,
                    const std::string& episodeName, const Sources& sources,
                    std::array<int, 3> skipped = {}) {
    PlistValue::Array record;
    for (const char* f = flags; *f != '\0'; ++f) {
        record.push_back(*f == '1' ? PlistValue::integer(1) : PlistValue::boolean(*f == 't'));
    }
    const PlistValue entry = PlistValue::array(record);
    const auto r = EpisodePageAnalysis::analyze(page, "Foo", &entry);
    EXPECT_EQ(std::tie(r.outcome, r.pageTitle, r.episode, r.episodeName, r.sources),
              std::tie(outcome, pageTitle, episode, episodeName, sources));
    EXPECT_EQ((std::array{r.unreadableDisplayLines, r.unreadableSpareSources, r.refusedSources}),
              skipped);  // unreadable display lines, unreadable spare sources, not http(s)
}

// A row per branch; a page offering one source for a video titled title, or Foo's episode 5.
TEST(EpisodePageAnalysisTest, AnalysesEachPage) {
    const auto titled = [](const char* name, const std::string& title, Outcome outcome,
                           std::int32_t episode, const std::string& episodeName = "",
                           const char* flags = "") {
        SCOPED_TRACE(name);
        const Sources found = outcome == Outcome::NewEpisode ? Sources{"http://v/1"} : Sources();
        expectAnalysis(DemoSite::episodePage(title, "http://v/1", {}), flags, outcome, title,
                       episode, episodeName, found);
    };
    titled("HashAndHighQuality", "Foo #10 高画質", Outcome::NewEpisode, 10, "Foo (10)");
    titled("SeasonWordSkipped", "Foo 2期 第3話 HD", Outcome::NewEpisode, 3, "Foo (03)", "f1t");
    titled("EpisodePrefix", "Foo episode09 HD", Outcome::NewEpisode, 9, "Foo (09)");
    titled("SizeWordsAreNoNumbers", "Foo 200MB 25MB 4", Outcome::NewEpisode, 4, "Foo (04)");
    titled("OnlyTrueIsRecorded", "Foo 追加 第1話", Outcome::NewEpisode, 1, "Foo (01)", "f1t");
    titled("Recorded", "Foo 第2話 HD", Outcome::AlreadyDownloaded, 2, "Foo (02)", "f1t");
    titled("ThirtyPassedOverThenZero", "Foo 第30話 HD", Outcome::NoEpisode, 0);
    titled("LastWordReadKeeps30", "Foo HD 第30話 episode", Outcome::NewEpisode, 30, "Foo (30)");
    titled("LargestEpisode", "Foo HD 第9999話", Outcome::NewEpisode, 9999, "Foo (9999)");
    titled("BeyondTheLargestEpisode", "Foo HD 第10000話", Outcome::NoEpisode, 10000);
    titled("NoQualityMark", "Foo 第5話", Outcome::NotHighQuality, 5);

    const std::string title = "<title>Foo 第5話 HD - ひまわり動画</title>\n";
    const std::string display = "var display_movie_url = 'http://v/a%20b.mp4';\n";
    const std::string shown = "http://v/a b.mp4";  // decoded, and not encoded again
    // Two web addresses, one not UTF-8 and one that never looks like a source.
    const std::string spares =
        "var ary_spare_sources = {\"s\":[{\"src\":\"http://m1/5\"},"
        "{\"src\":\"https://m2/5\"},{\"src\":\"http://m/%C3\"},{\"src\":\"ftp://m3/5\"}]};\n";
    const auto offering = [](const char* name, const std::string& page, const Sources& sources,
                             std::array<int, 3> skipped) {
        SCOPED_TRACE(name);
        expectAnalysis(page, "", Outcome::NewEpisode, "Foo 第5話 HD", 5, "Foo (05)", sources,
                       skipped);
    };
    offering("DisplayThenSpares", title + display + spares, {shown, "http://m1/5", "https://m2/5"},
             {0, 1, 0});
    offering("SparesBeforeTheDisplayAreDropped", title + spares + display, {shown}, {});
    offering("UnreadableLaterDisplayLeavesNoList",
             title + display + spares + "var display_movie_url = no quote\n", {}, {1, 1, 0});
    offering("LocalFileIsNeverRequested", title + "var display_movie_url = 'file:///x';\n" + spares,
             {"http://m1/5", "https://m2/5"}, {0, 1, 1});
    offering("ThreeLinesTheLastEmpty", title + display, {shown}, {});
    expectAnalysis(title + "var display_movie_url = 'http://v/1'", "", Outcome::TooFewLines, "", 0,
                   "", {});
    expectAnalysis("<html>\n<body>\n</body>\n", "", Outcome::NoTitleLine, "", 0, "", {});
    // The first "<title>" counts, and it must begin its line.
    expectAnalysis("<p><title>\n" + title + "\n", "", Outcome::NoTitleLine, "", 0, "", {});
}

const std::string kRanking(RankingSection::kRankingHeading);
const std::string kNew(RankingSection::kNewUploadsHeading);
const std::string kMarker(RankingSection::kTitleBlockMarker);
const auto& block = DemoSite::titleBlock;

TEST(RankingSectionTest, FindsThePathOfTheLastMatchingBlockInTheRanking) {
    const std::tuple<const char*, std::string, std::optional<std::string>> rows[] = {
        {"OnlyUnderNewUploads", kRanking + kNew + block("w/1", "Foo"), {}},
        {"BeforeTheRanking", block("w/0", "Foo") + kRanking, {}},
        {"NoRankingHeading",
         "<h2 class=\"home_head\">30分の再生数 TOP10</h2>" + block("w", "Foo"),
         {}},
        {"SecondRankingHeadingEndsIt", kRanking + kMarker + kRanking + block("w/2", "Foo"), {}},
        {"WithoutNewUploadsRunsToTheEnd", kRanking + block("w/1", "B") + block("w/2", "Foo"),
         "w/2"},
        {"PieceBeforeTheFirstMarker", kRanking + "<a href=\"./w/0\">Foo</a>" + kMarker, "w/0"},
        {"LinkInAnotherBlock", kRanking + kMarker + "Foo" + block("w/1", "Bar"), {}},
        {"PathEndsAtTheNextLink", kRanking + kMarker + "Foo href=\"./w/1 href=\"./w/2\"", "w/1 "},
    };
    for (const auto& [name, page, path] : rows) {
        const auto ranking = RankingSection::cut(page);
        EXPECT_EQ(ranking ? ranking->findEpisodePaths({"Foo"})[0] : std::nullopt, path) << name;
    }
}

// Whether the one-walk search finds what the plain search, every block one keyword at a time,
// finds.
void expectPlainResults(const std::string& page, const std::vector<std::string>& keywords) {
    const auto ranking = RankingSection::cut(page);
    ASSERT_TRUE(ranking);
    const auto found = ranking->findEpisodePaths({keywords.begin(), keywords.end()});
    for (std::size_t k = 0; k < keywords.size(); ++k) {
        std::optional<std::string> path;
        for (std::size_t i = 0; i < ranking->blockCount(); ++i) {
            const std::string_view text = ranking->block(i);
            const std::size_t link = text.find(RankingSection::kLinkMarker);
            if (keywords[k].empty() || text.find(keywords[k]) == text.npos || link == text.npos) {
                continue;
            }
            const std::string_view rest = text.substr(link + RankingSection::kLinkMarker.size());
            path = rest.substr(0, std::min(rest.find('"'), rest.find(RankingSection::kLinkMarker)));
        }
        ASSERT_EQ(found[k], path) << "keyword " << k << " on " << page;
    }
}

// Pages of a few markup pieces, so that keywords often occur, repeat, overlap each other and run
// across block markers.
TEST(RankingSectionTest, AgreesWithThePlainSearchOnGeneratedPages) {
    const std::string pieces[] = {"a", "b", "ab", "\"", kMarker, "href=\"./", "カ", "ナ", "\n"};
    std::mt19937 random(20261206);
    const auto text = [&](std::size_t count) {
        std::string out;
        while (count-- > 0) out += pieces[random() % std::size(pieces)];
        return out;
    };
    for (int round = 0; round < 300; ++round) {
        const std::string page = text(5) + kRanking + text(random() % 200) + kNew + text(5);
        std::vector<std::string> keywords;
        for (int k = 0; k < 8; ++k) keywords.push_back(text(random() % 4));
        ASSERT_NO_FATAL_FAILURE(expectPlainResults(page, keywords));
    }
}

// Keywords worth several automatons, and one too long for any, are all searched all the same.
TEST(RankingSectionTest, SearchesKeywordsBeyondOneAutomaton) {
    std::vector<std::string> keywords;
    while (keywords.size() * 40 <= 3 * KeywordMatcher::kMaxKeywordBytes) {
        keywords.push_back("作品" + std::to_string(keywords.size()) + std::string(30, 'x'));
    }
    keywords.push_back(std::string(KeywordMatcher::kMaxKeywordBytes + 1, 'y'));
    std::string page = kRanking;
    for (const std::size_t k :
         {0ul, keywords.size() / 2, keywords.size() - 2, keywords.size() - 1}) {
        page += block("w/" + std::to_string(k), keywords[k]);
    }
    expectPlainResults(page, keywords);
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
