// The episode page analysis on page texts: title words, quality marks, the episode record and
// the video sources offered by the display and spare lines.
#include <gtest/gtest.h>

#include "autodownload/EpisodePageAnalysis.h"
#include "fixtures/FixtureSite.h"
#include "support/ParamName.h"

namespace kestrova {
namespace {

using Outcome = EpisodePageAnalysis::Outcome;
using test::FixtureSite;

PlistValue flags(std::initializer_list<bool> values) {
    PlistValue::Array items;
    for (const bool v : values) items.push_back(PlistValue::boolean(v));
    return PlistValue::array(std::move(items));
}

std::string pageWithTitle(const std::string& videoTitle) {
    return FixtureSite::episodePage(videoTitle, "http://v.example/1.mp4", {});
}

struct TitleCase {
    const char* name;
    std::string videoTitle;
    Outcome outcome;
    std::int32_t episode;
    std::string episodeName;  // when the analysis gets that far
};

class TitleTest : public ::testing::TestWithParam<TitleCase> {};

TEST_P(TitleTest, GivesQualityEpisodeAndName) {
    const TitleCase& c = GetParam();
    const auto result = EpisodePageAnalysis::analyze(pageWithTitle(c.videoTitle), "Foo", nullptr);
    EXPECT_EQ(result.pageTitle, c.videoTitle);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.episode, c.episode);
    EXPECT_EQ(result.episodeName, c.episodeName);
}

INSTANTIATE_TEST_SUITE_P(
    Titles, TitleTest,
    ::testing::Values(
        TitleCase{"EpisodeWithDai", "Foo 第5話 HD", Outcome::NewEpisode, 5, "Foo (05)"},
        TitleCase{"Hash", "Foo #12 高画質", Outcome::NewEpisode, 12, "Foo (12)"},
        TitleCase{"SeasonWordSkipped", "Foo 2期 第3話 HD", Outcome::NewEpisode, 3, "Foo (03)"},
        TitleCase{"BareEpisodeWordSkipped", "Foo episode 7 HD", Outcome::NewEpisode, 7, "Foo (07)"},
        TitleCase{"EpisodePrefix", "Foo episode07 HD", Outcome::NewEpisode, 7, "Foo (07)"},
        TitleCase{"SizeMarkNeverANumber", "Foo 200MB 4", Outcome::NewEpisode, 4, "Foo (04)"},
        TitleCase{"ResolutionPassedOver", "Foo 1280x720 第3話 HD", Outcome::NewEpisode, 3,
                  "Foo (03)"},
        TitleCase{"ThirtyPassedOverThenZero", "Foo 第30話 HD", Outcome::NoEpisode, 0, ""},
        TitleCase{"LastWordReadKeepsThirty", "Foo HD 第30話", Outcome::NewEpisode, 30, "Foo (30)"},
        TitleCase{"DoubleSpace", "Foo  5 HD", Outcome::NewEpisode, 5, "Foo (05)"},
        TitleCase{"NoQualityMark", "Foo 第5話", Outcome::NotHighQuality, 5, ""},
        TitleCase{"AdditionMark", "Foo 追加 第2話", Outcome::NewEpisode, 2, "Foo (02)"},
        TitleCase{"NoNumberAtAll", "Foo HD", Outcome::NoEpisode, 0, ""},
        TitleCase{"NegativeLastWord", "Foo HD #-3", Outcome::NoEpisode, -3, ""},
        TitleCase{"BeyondAnyEpisode", "Foo HD 第99999話", Outcome::NoEpisode, 99999, ""},
        TitleCase{"LargestEpisode", "Foo HD 第9999話", Outcome::NewEpisode, 9999, "Foo (9999)"},
        TitleCase{"HugeNumberClamped", "Foo HD 99999999999", Outcome::NoEpisode, 2147483647, ""},
        TitleCase{"OtherWhiteSpaceDoesNotSeparate", "Foo\xe3\x80\x80第5話 HD", Outcome::NoEpisode,
                  0, ""}),
    test::ParamName());

// Most pages are Foo's episode 5 with a title line that reads; rows name what differs.
struct PageCase {
    const char* name;
    std::string page;
    std::vector<std::string> sources;
    Outcome outcome = Outcome::NewEpisode;
    std::string pageTitle = "Foo 第5話 HD";
};

const std::string kHead = "<html>\n<head>\n<title>Foo 第5話 HD - ひまわり動画</title>\n</head>\n";
const std::string kDisplay = "var display_movie_url = 'http://v.example/a%20b.mp4';\n";
const std::string kSpares =
    "var ary_spare_sources = {\"s\":[{\"src\":\"http://m1.example/5.mp4\"},"
    "{\"src\":\"https://m2.example/5.mp4\"},{\"src\":\"ftp://m3.example/5.mp4\"}]};\n";
const std::string kDisplayed = "http://v.example/a b.mp4";

class PageTest : public ::testing::TestWithParam<PageCase> {};

TEST_P(PageTest, GivesOutcomeAndSources) {
    const PageCase& c = GetParam();
    const auto result = EpisodePageAnalysis::analyze(c.page, "Foo", nullptr);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.pageTitle, c.pageTitle);
    EXPECT_EQ(result.sources, c.sources);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, PageTest,
    ::testing::Values(
        PageCase{"DisplayThenSpares",
                 kHead + kDisplay + kSpares,
                 {kDisplayed, "http://m1.example/5.mp4", "https://m2.example/5.mp4"}},
        PageCase{"SparesBeforeDisplayAreDropped", kHead + kSpares + kDisplay, {kDisplayed}},
        PageCase{"SparesWithoutDisplay", kHead + kSpares, {}},
        PageCase{"LaterDisplayReplacesEarlierList",
                 kHead + kDisplay + kSpares + "var display_movie_url = 'http://v.example/2';\n",
                 {"http://v.example/2"}},
        PageCase{"DisplayWithoutClosingQuote",
                 kHead + "var display_movie_url = 'http://v.example/open\n",
                 {"http://v.example/open"}},
        PageCase{"DisplayWithoutQuoteIsSkippedWithItsSpares",
                 kHead + "var display_movie_url = http://v.example/x;\n" + kSpares,
                 {}},
        PageCase{"DisplayNotUtf8IsSkippedWithItsSpares",
                 kHead + "var display_movie_url = 'http://v.example/%FF';\n" + kSpares,
                 {}},
        PageCase{"DisplayOfALocalFileIsNeverRequested",
                 kHead + "var display_movie_url = 'file:///etc/passwd';\n" + kSpares,
                 {"http://m1.example/5.mp4", "https://m2.example/5.mp4"}},
        PageCase{"SpareNotUtf8IsDropped",
                 kHead + kDisplay + "var ary_spare_sources = [\"http://m/%C3\",\"http://m/ok\"]\n",
                 {kDisplayed, "http://m/ok"}},
        PageCase{"IndentedByTabsIsRead",
                 "<html>\n\t\t<title>Foo 第5話 HD - ひまわり動画</title>\n\t" + kDisplay,
                 {kDisplayed}},
        PageCase{"TitleIndentedBySpaces",
                 "<html>\n  <title>Foo 第5話 HD - ひまわり動画</title>\n" + kDisplay,
                 {},
                 Outcome::NoTitleLine,
                 ""},
        PageCase{"LinesIndentedBySpacesAreNotSources", kHead + "  " + kDisplay, {}},
        PageCase{"OnlyTheFirstTitleLineCounts",
                 "<p><title>\n<title>Foo 第5話 HD - ひまわり動画</title>\n\n",
                 {},
                 Outcome::NoTitleLine,
                 ""},
        PageCase{"NoTitleLine", "<html>\n<body>\n</body>\n", {}, Outcome::NoTitleLine, ""},
        PageCase{"TwoLines",
                 "<title>Foo 第5話 HD - ひまわり動画</title>\nvar display_movie_url = 'http://v/1'",
                 {},
                 Outcome::TooFewLines,
                 ""},
        PageCase{"ThreeLinesTheLastEmpty",
                 "<title>Foo 第5話 HD</title>\n" + kDisplay,
                 {kDisplayed},
                 Outcome::NewEpisode,
                 "Foo 第5話 HD</title>"},
        PageCase{"CarriageReturnStaysInTitle",
                 "<title>Foo HD 第5話 - ひまわり動画</title>\r\n\n\n",
                 {},
                 Outcome::NewEpisode,
                 "Foo HD 第5話\r"}),
    test::ParamName());

TEST(EpisodePageAnalysisTest, EpisodeRecordDecidesWhatIsAlreadyDownloaded) {
    const PlistValue record = flags({false, false, true});
    const auto page = [](int episode) {
        return pageWithTitle("Foo 第" + std::to_string(episode) + "話 HD");
    };
    const auto second = EpisodePageAnalysis::analyze(page(2), "Foo", &record);
    EXPECT_EQ(second.outcome, Outcome::AlreadyDownloaded);
    EXPECT_EQ(second.episodeName, "Foo (02)");
    EXPECT_TRUE(second.sources.empty());
    EXPECT_EQ(EpisodePageAnalysis::analyze(page(1), "Foo", &record).outcome, Outcome::NewEpisode);
    const auto third = EpisodePageAnalysis::analyze(page(3), "Foo", &record);
    EXPECT_EQ(third.outcome, Outcome::NewEpisode);
    EXPECT_EQ(third.sources, std::vector<std::string>{"http://v.example/1.mp4"});
    // Only the boolean true counts as downloaded.
    const PlistValue numbers =
        PlistValue::array({PlistValue::integer(1), PlistValue::integer(1), PlistValue::integer(1)});
    EXPECT_EQ(EpisodePageAnalysis::analyze(page(2), "Foo", &numbers).outcome, Outcome::NewEpisode);
    const PlistValue notAList = PlistValue::string("2");
    EXPECT_EQ(EpisodePageAnalysis::analyze(page(2), "Foo", &notAList).outcome, Outcome::NewEpisode);
}

TEST(EpisodePageAnalysisTest, CountsWhatItRefusedSoTheScanCanSaySo) {
    const std::string page = kHead + "var display_movie_url = 'file:///etc/passwd';\n" + kSpares +
                             "var display_movie_url = no quote\n";
    const auto result = EpisodePageAnalysis::analyze(page, "Foo", nullptr);
    EXPECT_EQ(result.unreadableDisplayLines, 1);
    EXPECT_EQ(result.refusedSources, 0);  // the later display line left no list at all
    const auto refused = EpisodePageAnalysis::analyze(
        kHead + "var display_movie_url = 'file:///etc/passwd';\n" + kSpares, "Foo", nullptr);
    EXPECT_EQ(refused.refusedSources, 1);  // the file; ftp never looked like a source
}

}  // namespace
}  // namespace kestrova
