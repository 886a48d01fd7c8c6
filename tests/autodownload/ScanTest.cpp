// The auto-download system: its records, the merge of lists, the episode record, and whole scans
// against the demo site, every log line in order and the posts; what a scan makes of a page.
#include <gtest/gtest.h>

#include "autodownload/AnimeRecord.h"
#include "autodownload/AutoDownloadSystem.h"
#include "download/NotificationRecorder.h"
#include "demo/DemoSite.h"
#include "messages/Notifications.h"
#include "support/TestPlatform.h"

namespace kestrova {
namespace {

using Lines = std::vector<std::string>;
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
    for (const auto& [name, stored, merged] : rows) {
        EXPECT_TRUE(AutoDownloadSystem::mergeList(fetched, stored) == merged) << name;
    }
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
        EXPECT_TRUE(
            AutoDownloadSystem(platform.services, false).eplstManager(file, before, list({})) ==
            expected)
            << file;
        EXPECT_EQ(platform.log.contains("AutoDownloadSystem -> Failed to Record Episode: " + file),
                  after.empty())
            << file;
    }
}

const char* const kNotAList = "<plist version=\"1.0\"><dict/></plist>";

// A system whose platform points at the demo site.
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

// The served list differs from the one handed in: merged, posted and scanned. Off is switched
// off by the user; Re/Start's integer status does not switch it off, its first matching keyword
// ends its search, and its new episode is requested from every source; Foo's episode, in the
// later of its two blocks, is already downloaded.
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
        {DemoSite::titleBlock("w/foo4", "Foo 第4話 HD"),
         DemoSite::titleBlock("w/re1", "Re/Start"), DemoSite::titleBlock("w/foo5", "Foo")},
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

// Each record meets another failure, logged with its reason, and the scan goes on. The server's
// list is refused, so the list handed in, with records a served list could not hold, is scanned.
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
    // A title (and its keyword), the path its block links to, the page there, what is logged.
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

// Scans that end early, each with its reason. Unless another is given, the server serves the
// list handed in, [Foo], so the refresh says nothing.
TEST(ScanTest, EndsEarlyWithTheReason) {
    const PlistValue foo = list({anime("Foo")}), none = PlistValue::dictionary();
    // The list and episode record handed in, the list's document (nullptr: the list), the top
    // page, whether the system is on, and the scan's lines.
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
