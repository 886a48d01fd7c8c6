// The video site's pages read without the network, the lists, and whole scans against the
// demo site. That the one-walk keyword search agrees with a plain search is the fuzz target's.
#include <gtest/gtest.h>

#include "autodownload/AnimeRecord.h"
#include "autodownload/AutoDownloadSystem.h"
#include "autodownload/EpisodePageAnalysis.h"
#include "autodownload/KeywordMatcher.h"
#include "autodownload/RankingSection.h"
#include "demo/DemoSite.h"
#include "download/NotificationRecorder.h"
#include "messages/Notifications.h"
#include "support/TestPlatform.h"

namespace kestrova {
namespace {

using Lines = std::vector<std::string>;
using Outcome = EpisodePageAnalysis::Outcome;
using Paths = std::vector<std::optional<std::string>>;
const PlistValue kTrue = PlistValue::boolean(true), kFalse = PlistValue::boolean(false);

PlistValue anime(const std::string& title, std::vector<std::string> keywords = {},
                 std::optional<bool> status = true, std::int64_t time = 1) {
    if (keywords.empty()) keywords.push_back(title);
    return DemoSite::animeRecord(title, std::move(keywords), status, time);
}
PlistValue with(PlistValue record, const std::string& key, PlistValue value) {
    record.asDictionary()->insert_or_assign(key, std::move(value));
    return record;
}
PlistValue list(const std::vector<PlistValue>& records) { return PlistValue::array(records); }
PlistValue flags(const std::string& marks) {
    PlistValue::Array items;
    for (const char m : marks) items.push_back(PlistValue::boolean(m == 't'));
    return PlistValue::array(std::move(items));
}

// For the title Foo, whose record marks episode 2 only. A row without a page reads one offering
// http://v/1 under its title.
TEST(EpisodePageAnalysisTest, AnalysesEachPage) {
    const PlistValue recorded = PlistValue::array(  // the integer 1 marks nothing
        {PlistValue::boolean(false), PlistValue::integer(1), PlistValue::boolean(true)});
    const std::string title = "<title>Foo 第5話 HD - ひまわり動画</title>\n";
    const std::string display = "var display_movie_url = 'http://v/a%20b.mp4';\n";
    const std::string shown = "http://v/a b.mp4";  // decoded, and not encoded again
    const std::string spares =
        "var ary_spare_sources = {\"s\":[{\"src\":\"http://m1/5\"},"
        "{\"src\":\"https://m2/5\"},{\"src\":\"http://m/%C3\"},{\"src\":\"ftp://m3/5\"}]};\n";
    const std::string t5 = "Foo 第5話 HD", n5 = "Foo (05)";
    const Lines v1{"http://v/1"}, all{shown, "http://m1/5", "https://m2/5"};
    constexpr Outcome New = Outcome::NewEpisode, None = Outcome::NoEpisode;
    const struct {
        std::string title, page, name;
        Outcome outcome;
        std::int32_t episode;
        Lines sources;
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
        const std::array skipped{r.unreadableDisplayLines, r.unreadableSpareSources,
                                 r.refusedSources};
        EXPECT_EQ(std::tie(r.outcome, r.pageTitle, r.episode, r.episodeName, r.sources, skipped),
                  std::tie(row.outcome, row.title, row.episode, row.name, row.sources, row.skipped))
            << row.title << row.page;
    }
}

const std::string kRanking(RankingSection::kRankingHeading);
const std::string kNew(RankingSection::kNewUploadsHeading);
const std::string kMarker(RankingSection::kTitleBlockMarker);
const auto& block = DemoSite::titleBlock;

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
        {"Keywords", keywords, {"ナ", "カナ", "アカナ", "カナ", "", "ア", "</div>\n<div", "アカ"},
         {"w/3", "w/2", "w/2", "w/2", {}, "w/3", {}, "w/2"}},
        // clang-format on
    };
    for (const auto& [name, page, words, paths] : rows) {
        const auto ranking = RankingSection::cut(page);
        EXPECT_EQ(ranking ? ranking->findEpisodePaths(words) : Paths(words.size()), paths) << name;
    }
}

TEST(RankingSectionTest, SearchesKeywordsBeyondOneAutomaton) {
    std::vector<std::string> keywords;
    while (keywords.size() * 40 <= 3 * KeywordMatcher::kMaxKeywordBytes)
        keywords.push_back("作品" + std::to_string(keywords.size()) + std::string(30, 'x'));
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

TEST(AnimeRecordTest, SaysWhyARecordCannotBeUsed) {
    const PlistValue foo = anime("Foo");
    const std::tuple<const char*, PlistValue, std::optional<std::string>> rows[] = {
        // clang-format off
        {"Usable", foo, {}}, {"WithoutKeyword", PlistValue::dictionary({{"title", PlistValue::string("Foo")}}), {}},
        {"NotADictionary", list({}), "not a dictionary"}, {"WithoutTitle", PlistValue::dictionary(), "no \"title\" text"},
        {"TitleNotText", with(foo, "title", kTrue), "no \"title\" text"},
        {"KeywordNotAList", with(foo, "keyword", kTrue), "\"keyword\" is not a list (Foo)"},
        {"KeywordHoldsNoText", with(foo, "keyword", list({kTrue})), "\"keyword\" holds something other than text (Foo)"},
        {"CarriesURL", with(foo, "URL", kTrue), "carries \"URL\" or \"file\" (Foo)"},
        {"CarriesFile", with(anime("F\n"), "file", kTrue), "carries \"URL\" or \"file\" (F\\n)"},
        // clang-format on
    };
    for (const auto& [name, row, problem] : rows)
        EXPECT_EQ(AnimeRecord::problem(row), problem) << name;
}

// The server's records in its order, each with the status of the first stored record of its
// title: a stored record without one removes it.
TEST(DownloadListTest, MergeKeepsTheUsersStatusAndTheServersEverythingElse) {
    const PlistValue fetched = list({anime("Bar"), anime("Foo", {}, true, 30)});
    EXPECT_EQ(AutoDownloadSystem::mergeList(fetched, std::nullopt), fetched);
    const PlistValue zero = PlistValue::integer(0);
    const std::tuple<const char*, PlistValue, PlistValue> rows[] = {
        // clang-format off
        {"StoredStatusWins", list({PlistValue::string("Foo"), anime("Old"), anime("Foo", {}, false)}),
         list({anime("Bar"), anime("Foo", {}, false, 30)})},
        {"StoredWithoutStatus", list({anime("Foo", {}, {})}), list({anime("Bar"), anime("Foo", {}, {}, 30)})},
        {"FirstStoredRecord", list({with(anime("Foo"), "status", zero), anime("Foo", {}, false)}),
         list({anime("Bar"), with(anime("Foo", {}, true, 30), "status", zero)})},
        // clang-format on
    };
    for (const auto& [name, stored, merged] : rows)
        EXPECT_TRUE(AutoDownloadSystem::mergeList(fetched, stored) == merged) << name;
}

// "<title> (NN)" marks episode NN of the title; a name without " (" or a number outside 0 to
// 9999 is logged and changes nothing.
TEST(DownloadListTest, EpisodeRecordMarksTheEpisodeOrRefusesTheName) {
    const PlistValue none = PlistValue::dictionary(),
                     fifth = PlistValue::dictionary({{"Foo", flags("ffffft")}});
    const std::tuple<std::string, PlistValue, std::string> rows[] = {
        // clang-format off
        {"Foo (05)", none, "ffffft"}, {"Foo (03)", fifth, "ffftft"}, {"Foo (06)", fifth, "ffffftt"},
        {"Foo (TV) (00)", none, "t"}, {"Foo (02)", PlistValue::dictionary({{"Foo", PlistValue::string("x")}}), "fft"},
        {"Foo (9999)", none, std::string(9999, 'f') + "t"},
        {"Foo (-1)", fifth, ""}, {"Foo (10000)", fifth, ""}, {"Foo 05", fifth, ""},
        // clang-format on
    };
    for (const auto& [file, before, after] : rows) {
        test::TestPlatform platform;
        PlistValue expected = before;
        if (!after.empty()) expected.asDictionary()->insert_or_assign("Foo", flags(after));
        AutoDownloadSystem system(platform.services, false);
        EXPECT_TRUE(system.eplstManager(file, before, list({})) == expected &&
                    platform.log.contains("AutoDownloadSystem -> Failed to Record Episode: " +
                                          file) == after.empty())
            << file;
    }
}

const char* const kNotAList = "<plist version=\"1.0\"><dict/></plist>";

struct ScanRun {
    // One scan, then the main thread's turn, which delivers the scan's posts; the scan's lines.
    Lines scan(const std::optional<PlistValue>& list,
               const std::optional<PlistValue>& episodes = PlistValue::dictionary(),
               bool enabled = true) {
        system.setIsEnable(enabled);
        system.analyzeWithURL(site.siteURL(), list, episodes);
        platform.runLoop.post([this] { platform.runLoop.quit(0); });
        platform.runLoop.run();
        Lines lines = platform.log.linesStartingWith("AutoDownloadSystem -> ");
        for (std::string& line : lines) line.erase(0, 22);
        return lines;
    }

    DemoSite site;
    test::TestPlatform platform{{.serverURL = site.serverURL(), .siteURL = site.siteURL()}};
    AutoDownloadSystem system{platform.services, false};
    test::NotificationRecorder lists{platform.center, notification::kUpdateDlst};
    test::NotificationRecorder requests{platform.center, notification::kDownloadRequest};
};

// The served list differs from the one handed in: merged, posted and scanned. Re/Start's integer
// status does not switch it off; Foo's episode, in the later of its blocks, is downloaded.
TEST(ScanTest, NormalRoadLogsEveryStepInOrder) {
    ScanRun run;
    const PlistValue served = list({anime("Off"),
                                    with(anime("Re/Start", {"Baz", "", "Re/Start", "Foo"}, {}),
                                         "status", PlistValue::integer(0)),
                                    anime("Foo", {}, {})});
    PlistValue merged = served;
    (*merged.asArray())[0].asDictionary()->insert_or_assign("status", kFalse);
    run.site.setDownloadList(served);
    run.site.setTopPage(DemoSite::topPage(
        {DemoSite::titleBlock("w/foo4", "Foo 第4話 HD"), DemoSite::titleBlock("w/re1", "Re/Start"),
         DemoSite::titleBlock("w/foo5", "Foo")},
        {}));
    const std::string v = run.site.siteURL() + "v/";
    run.site.setPage("w/re1",
                     DemoSite::episodePage("Re/Start 第1話 HD", v + "1", {v + "2", v + "3"}));
    run.site.setPage("w/foo5", DemoSite::episodePage("Foo 第5話 HD", v + "4", {}));

    EXPECT_EQ(
        run.scan(list({anime("Off", {}, false)}),
                 PlistValue::dictionary({{"Foo", flags("ffffft")}})),
        (Lines{"Update Anime List.", "Start Analyze.", "Get HTML: Top Page.",
               "Search Keyword: Baz in Re/Start", "Not Found: Baz in Re/Start",
               "Search Keyword:  in Re/Start", "Not Found:  in Re/Start",
               "Search Keyword: Re/Start in Re/Start", "Match Keyword: Re/Start in Re/Start",
               "Get Page: Re/Start 第1話 HD", "HD Movie Detected: Re/Start (01)",
               "Start AutoDownload: Re/Start (01)", "Search Keyword: Foo in Foo",
               "Match Keyword: Foo in Foo", "Get Page: Foo 第5話 HD", "HD Movie Detected: Foo (05)",
               "Already Downloaded: Foo (05)", "Terminate Analyze."}));
    EXPECT_TRUE(run.lists.objects() == std::vector<PlistValue>{merged});
    EXPECT_EQ(run.requests.strings("URL"), (Lines{v + "1", v + "2", v + "3"}));
    EXPECT_EQ(run.requests.strings("title"), Lines(3, "Re/Start"));
    EXPECT_EQ(run.requests.strings("file"), Lines(3, "Re/Start (01)"));
    EXPECT_EQ(run.site.siteRequests(), (Lines{"/", "/w/re1", "/w/foo5"}));
}

// Each record meets another failure, logged, and the scan goes on. The server's list is refused,
// so the list handed in is scanned.
TEST(ScanTest, EpisodeFailuresAreLoggedAndTheScanGoesOn) {
    ScanRun run;
    run.site.setDownloadListBody(kNotAList);
    const auto page = [](const std::string& title) {
        return DemoSite::episodePage(title, "http://v/5", {});
    };
    const std::string f =
        "<title>F 第5話 HD - ひまわり動画</title>\nvar display_movie_url = 'http://v/%FF';\n"
        "var display_movie_url = 'file:///etc/passwd';\n"
        "var ary_spare_sources = [\"http://m/%C3\",\"http://m/5.mp4\"]\n";
    const std::string n("N\0", 2);
    const std::tuple<std::string, std::string, std::optional<std::string>, Lines> records[] = {
        // clang-format off
        {"A", "w/a", {}, {"Failed to Get Page: A"}},
        {"B", "w/b", "<title>B 第5話 HD</title>\n", {"Get Error in _htmlArray: B"}},
        {"C", "w/c", "<html>\n<body>\n</body>\n", {"Failed to Analyze Page: C"}},
        {"D", "w/d", page("D 第5話"), {"Get Page: D 第5話"}},
        {"E", "w/e", page("E HD 第10000話"), {"Get Page: E HD 第10000話", "Failed to Get Episode."}},
        {"F", "w/f", f, {"Get Page: F 第5話 HD", "HD Movie Detected: F (05)",
                         "Skipped Movie URL: unreadable display_movie_url in F (05)",
                         "Skipped Movie URL: unreadable spare source in F (05)",
                         "Skipped Movie URL: not http or https in F (05)", "Start AutoDownload: F (05)"}},
        // A link holding a space is no address: it is not fetched.
        {"G", "w/g h", page("G 第5話 HD"), {"Failed to Get Page: G"}},
        {n, "w/n", page("N 第5話 HD"), {"Skipped Anime: its title cannot name a file: N\\x00"}},
        // clang-format on
    };
    PlistValue::Array scanned{PlistValue::string("junk")};
    std::vector<std::string> blocks;
    Lines expected{"Rejected dlst.plist: not a list.", "Failed to Update Anime List.",
                   "Start Analyze.", "Get HTML: Top Page.",
                   "Skipped Invalid Record: record 0 not a dictionary."};
    for (const auto& [title, link, html, logged] : records) {
        scanned.push_back(anime(title));
        blocks.push_back(DemoSite::titleBlock(link, title));
        if (html) run.site.setPage(link, *html);
        const std::string shown = title == n ? "N\\x00" : title;  // as logged
        expected.push_back("Search Keyword: " + shown + " in " + shown);
        expected.push_back("Match Keyword: " + shown + " in " + shown);
        expected.insert(expected.end(), logged.begin(), logged.end());
    }
    expected.push_back("Terminate Analyze.");
    run.site.setTopPage(DemoSite::topPage(blocks, {}));
    EXPECT_EQ(run.scan(PlistValue::array(scanned)), expected);
    EXPECT_EQ(run.requests.strings("URL"), Lines{"http://m/5.mp4"});
}

// Scans that end early. Unless another is given, the server serves the list handed in.
TEST(ScanTest, EndsEarlyWithTheReason) {
    const PlistValue foo = list({anime("Foo")}), none = PlistValue::dictionary();
    const std::tuple<std::optional<PlistValue>, std::optional<PlistValue>, const char*, const char*,
                     bool, Lines>
        rows[] = {
            // clang-format off
            {{}, none, nullptr, "", true, {"Failed to Update Anime List.", "Start Analyze.", "Failed to Get AutoDownloadList."}},
            {foo, {}, nullptr, "", true, {"Start Analyze.", "Failed to Get EpisodeList."}},
            // Switched off, a scan only refreshes the list.
            {foo, none, kNotAList, "", false, {"Rejected dlst.plist: not a list.", "Failed to Update Anime List."}},
            {foo, none, nullptr, "caf\xe9", true, {"Start Analyze.", "Failed to Get HTML: Top Page."}},
            {foo, none, nullptr, "<p/>", true, {"Start Analyze.", "Get HTML: Top Page.", "Error in HTML: Top Page."}},
            // clang-format on
        };
    for (const auto& [handed, episodes, served, top, enabled, lines] : rows) {
        ScanRun run;
        served ? run.site.setDownloadListBody(served) : run.site.setDownloadList(handed);
        run.site.setTopPage(top);
        EXPECT_EQ(run.scan(handed, episodes, enabled), lines);
    }
}

}  // namespace
}  // namespace kestrova
