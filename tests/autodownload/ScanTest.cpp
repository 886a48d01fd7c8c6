// Whole scans against the fixture site on loopback: every log line in order, and the posts. What
// the pages say is the page tables' business; here, what a scan makes of it.
#include <gtest/gtest.h>

#include "autodownload/AutoDownloadSystem.h"
#include "download/NotificationRecorder.h"
#include "fixtures/FixtureSite.h"
#include "messages/Notifications.h"
#include "support/TestPlatform.h"

namespace kestrova {
namespace {

using test::FixtureSite;
using Lines = std::vector<std::string>;

PlistValue anime(const std::string& title, std::vector<std::string> keywords,
                 std::optional<bool> status = true) {
    return FixtureSite::animeRecord(title, std::move(keywords), status);
}
const char* const kNotAList = "<plist version=\"1.0\"><dict/></plist>";

// A system whose platform points at the fixture site.
struct ScanRun {
    // One scan, then the main thread's turn, which delivers the scan's posts; the scan's lines.
    Lines scan(const std::optional<PlistValue>& list,
               const std::optional<PlistValue>& episodes = PlistValue::dictionary(),
               bool enabled = true) {
        system.setIsEnable(enabled);
        system.analyzeWithURL(site.siteURL(), list, episodes);
        platform.runLoop.post([this] { platform.runLoop.quit(0); });
        platform.runLoop.run();
        Lines lines;
        for (const std::string& line : platform.log.linesStartingWith("AutoDownloadSystem -> ")) {
            lines.push_back(line.substr(22));
        }
        return lines;
    }

    FixtureSite site;
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
    PlistValue reStart = anime("Re/Start", {"Baz", "", "Re/Start", "Foo"}, {});
    reStart.asDictionary()->emplace("status", PlistValue::integer(0));
    const PlistValue served =
        PlistValue::array({anime("Off", {"Off"}), reStart, anime("Foo", {"Foo"}, {})});
    PlistValue merged = served;
    (*merged.asArray())[0].asDictionary()->insert_or_assign("status", PlistValue::boolean(false));
    run.site.setDownloadList(served);
    run.site.setTopPage(FixtureSite::topPage(
        {FixtureSite::titleBlock("w/foo4", "Foo 第4話 HD"),
         FixtureSite::titleBlock("w/re1", "Re/Start"), FixtureSite::titleBlock("w/foo5", "Foo")},
        {}));
    const std::string v = run.site.siteURL() + "v/";
    run.site.setPage("w/re1",
                     FixtureSite::episodePage("Re/Start 第1話 HD", v + "1", {v + "2", v + "3"}));
    run.site.setPage("w/foo5", FixtureSite::episodePage("Foo 第5話 HD", v + "4", {}));
    PlistValue::Array fooFlags(6, PlistValue::boolean(false));
    fooFlags[5] = PlistValue::boolean(true);

    EXPECT_EQ(
        run.scan(PlistValue::array({anime("Off", {"Off"}, false)}),
                 PlistValue::dictionary({{"Foo", PlistValue::array(fooFlags)}})),
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
        return FixtureSite::episodePage(title, "http://v/5", {});
    };
    // A title (and its keyword), the path its block links to, the page there, what is logged.
    const std::tuple<std::string, std::string, std::optional<std::string>, Lines> records[] = {
        {"A", "w/a", {}, {"Failed to Get Page: A"}},
        {"B", "w/b", "<title>B 第5話 HD</title>\n", {"Get Error in _htmlArray: B"}},
        {"C", "w/c", "<html>\n<body>\n</body>\n", {"Failed to Analyze Page: C"}},
        {"D", "w/d", page("D 第5話"), {"Get Page: D 第5話"}},
        {"E",
         "w/e",
         page("E HD 第10000話"),
         {"Get Page: E HD 第10000話", "Failed to Get Episode."}},
        {"F",
         "w/f",
         "<title>F 第5話 HD - ひまわり動画</title>\nvar display_movie_url = 'http://v/%FF';\n"
         "var display_movie_url = 'file:///etc/passwd';\n"
         "var ary_spare_sources = [\"http://m/%C3\",\"http://m/5.mp4\"]\n",
         {"Get Page: F 第5話 HD", "HD Movie Detected: F (05)",
          "Skipped Movie URL: unreadable display_movie_url in F (05)",
          "Skipped Movie URL: unreadable spare source in F (05)",
          "Skipped Movie URL: not http or https in F (05)", "Start AutoDownload: F (05)"}},
        // A link holding a space is no address: it is not fetched.
        {"G", "w/g h", page("G 第5話 HD"), {"Failed to Get Page: G"}},
        {std::string("N\0", 2),
         "w/n",
         page("N 第5話 HD"),
         {"Skipped Anime: its title cannot name a file: N\\x00"}},
    };
    PlistValue::Array list{PlistValue::string("junk")};
    std::vector<std::string> blocks;
    Lines expected{"Rejected dlst.plist: not a list.", "Failed to Update Anime List.",
                   "Start Analyze.", "Get HTML: Top Page.",
                   "Skipped Invalid Record: record 0 not a dictionary."};
    for (const auto& [title, link, html, logged] : records) {
        list.push_back(anime(title, {title}));
        blocks.push_back(FixtureSite::titleBlock(link, title));
        if (html) run.site.setPage(link, *html);
        const std::string shown = title == std::string("N\0", 2) ? "N\\x00" : title;  // as logged
        expected.push_back("Search Keyword: " + shown + " in " + shown);
        expected.push_back("Match Keyword: " + shown + " in " + shown);
        expected.insert(expected.end(), logged.begin(), logged.end());
    }
    expected.push_back("Terminate Analyze.");
    run.site.setTopPage(FixtureSite::topPage(blocks, {}));
    EXPECT_EQ(run.scan(PlistValue::array(list)), expected);
    EXPECT_EQ(run.requests.strings("URL"), Lines{"http://m/5.mp4"});
}

// Scans that end early, each with its reason. Unless another is given, the server serves the
// list handed in, [Foo], so the refresh says nothing.
TEST(ScanTest, EndsEarlyWithTheReason) {
    const PlistValue foo = PlistValue::array({anime("Foo", {"Foo"})});
    const std::optional<PlistValue> none;
    const PlistValue noEpisodes = PlistValue::dictionary();
    const struct {
        const char* name;
        std::optional<PlistValue> list, episodes;
        const char *served, *top;  // the list's document (nullptr: the list), the top page
        bool enabled;
        std::string lines;
    } rows[] = {
        {"NoList", none, noEpisodes, nullptr, "", true,
         "Failed to Update Anime List.|Start Analyze.|Failed to Get AutoDownloadList."},
        {"NoEpisodeList", foo, none, nullptr, "", true,
         "Start Analyze.|Failed to Get EpisodeList."},
        // Switched off, a scan only refreshes the list.
        {"SwitchedOff", foo, noEpisodes, kNotAList, "", false,
         "Rejected dlst.plist: not a list.|Failed to Update Anime List."},
        {"TopPageNotText", foo, noEpisodes, nullptr, "caf\xe9", true,
         "Start Analyze.|Failed to Get HTML: Top Page."},
        {"NoRanking", foo, noEpisodes, nullptr, "<p/>", true,
         "Start Analyze.|Get HTML: Top Page.|Error in HTML: Top Page."},
    };
    for (const auto& row : rows) {
        ScanRun run;
        row.served ? run.site.setDownloadListBody(row.served) : run.site.setDownloadList(row.list);
        run.site.setTopPage(row.top);
        std::string lines;
        for (const std::string& line : run.scan(row.list, row.episodes, row.enabled)) {
            lines += (lines.empty() ? "" : "|") + line;
        }
        EXPECT_EQ(lines, row.lines) << row.name;
    }
}

}  // namespace
}  // namespace kestrova
