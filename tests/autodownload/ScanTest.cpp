// Whole scans against the fixture site on loopback: the list refresh, the ranking search, the
// episode pages, and the exact log lines and posts they produce.
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

const std::string kPrefix = "AutoDownloadSystem -> ";

PlistValue request(const std::string& url, const std::string& title, const std::string& file) {
    return PlistValue::dictionary({{"URL", PlistValue::string(url)},
                                   {"title", PlistValue::string(title)},
                                   {"file", PlistValue::string(file)}});
}

class ScanTest : public ::testing::Test {
protected:
    ScanTest() {
        system.setIsEnable(true);
        site.setDownloadList(list);
    }
    std::unique_ptr<test::TestPlatform> startSite() {
        EXPECT_TRUE(site.running());
        test::TestPlatform::Options options;
        options.serverURL = site.serverURL();
        options.siteURL = site.siteURL();
        return std::make_unique<test::TestPlatform>(options);
    }

    // A ranking with Foo's episode 5 and a page offering a display and two spare sources.
    void serveFooEpisode(const std::string& videoTitle = "Foo 第5話 HD") {
        site.setTopPage(FixtureSite::topPage({FixtureSite::titleBlock("w/bar1", "Bar 第1話"),
                                              FixtureSite::titleBlock("w/foo5", videoTitle)},
                                             {}));
        site.setPage("w/foo5",
                     FixtureSite::episodePage(videoTitle, video(1), {video(2), video(3)}));
    }
    std::string video(int n) const { return site.siteURL() + "v/" + std::to_string(n) + ".mp4"; }

    // One scan, then the main thread's turn: the scan's notifications are delivered there.
    void scan(const std::optional<PlistValue>& episodes = PlistValue::dictionary()) {
        system.analyzeWithURL(site.siteURL(), list, episodes);
        platform->runLoop.post([this] { platform->runLoop.quit(0); });
        platform->runLoop.run();
    }
    Lines lines() const {
        Lines out;
        for (const std::string& line : platform->log.linesStartingWith(kPrefix)) {
            out.push_back(line.substr(kPrefix.size()));
        }
        return out;
    }

    FixtureSite site;
    std::unique_ptr<test::TestPlatform> platform = startSite();
    AutoDownloadSystem system{platform->services, false};
    test::NotificationRecorder listPosts{platform->center, notification::kUpdateDlst};
    test::NotificationRecorder requestPosts{platform->center, notification::kDownloadRequest};
    std::optional<PlistValue> list = PlistValue::array({FixtureSite::animeRecord("Foo", {"Foo"})});
};

// The list served is the one handed in: it is neither posted nor logged.
TEST_F(ScanTest, NewEpisodeIsRequestedFromEverySourceWithEveryLineInOrder) {
    serveFooEpisode();
    scan();
    EXPECT_EQ(lines(), (Lines{"Start Analyze.", "Get HTML: Top Page.", "Search Keyword: Foo in Foo",
                              "Match Keyword: Foo in Foo", "Get Page: Foo 第5話 HD",
                              "HD Movie Detected: Foo (05)", "Start AutoDownload: Foo (05)",
                              "Terminate Analyze."}));
    EXPECT_EQ(requestPosts.objects(),
              (std::vector<PlistValue>{request(video(1), "Foo", "Foo (05)"),
                                       request(video(2), "Foo", "Foo (05)"),
                                       request(video(3), "Foo", "Foo (05)")}));
    EXPECT_TRUE(listPosts.objects().empty());
    EXPECT_EQ(site.siteRequests(), (Lines{"/", "/w/foo5"}));
}

TEST_F(ScanTest, AlreadyDownloadedEpisodeIsNotRequested) {
    serveFooEpisode();
    PlistValue::Array flags(6, PlistValue::boolean(false));
    flags[5] = PlistValue::boolean(true);
    scan(PlistValue::dictionary({{"Foo", PlistValue::array(std::move(flags))}}));
    const Lines got = lines();
    ASSERT_EQ(got.size(), 8u);
    EXPECT_EQ(got[5], "HD Movie Detected: Foo (05)");
    EXPECT_EQ(got[6], "Already Downloaded: Foo (05)");
    EXPECT_TRUE(requestPosts.objects().empty());
}

TEST_F(ScanTest, BrokenListDocumentsKeepTheListHandedIn) {
    const std::vector<std::pair<std::string, std::string>> documents{
        {"garbage", "this is no property list"},
        {"dictionary root", "<plist version=\"1.0\"><dict/></plist>"},
        {"string element", "<plist version=\"1.0\"><array><string>Foo</string></array></plist>"},
        {"record carrying a file name",
         "<plist version=\"1.0\"><array><dict><key>title</key><string>Bar</string>"
         "<key>file</key><string>../../.bashrc</string></dict></array></plist>"}};
    system.setIsEnable(false);
    for (const auto& [what, body] : documents) {
        platform->log.clear();
        site.setDownloadListBody(body);
        scan();
        EXPECT_EQ(lines().back(), "Failed to Update Anime List.") << what;
    }
    EXPECT_TRUE(listPosts.objects().empty());
    EXPECT_EQ(lines().front(), "Rejected dlst.plist: record 0 carries \"URL\" or \"file\" (Bar).");
}

TEST_F(ScanTest, ChangedListIsPostedAndUsedForTheScan) {
    serveFooEpisode();
    const PlistValue fetched = PlistValue::array(
        {FixtureSite::animeRecord("Foo", {"Foo"}, true), FixtureSite::animeRecord("Bar", {"Bar"})});
    site.setDownloadList(fetched);
    list = PlistValue::array({FixtureSite::animeRecord("Foo", {"Foo"}, false)});
    scan();
    const PlistValue merged = AutoDownloadSystem::mergeList(fetched, list);
    EXPECT_EQ(listPosts.objects(), std::vector<PlistValue>{merged});
    const Lines got = lines();
    ASSERT_GE(got.size(), 4u);
    EXPECT_EQ(got[0], "Update Anime List.");
    EXPECT_EQ(got[1], "Start Analyze.");
    // Foo stays switched off by the user; Bar, new, is searched.
    EXPECT_EQ(got[3], "Search Keyword: Bar in Bar");
    EXPECT_TRUE(requestPosts.objects().empty());
}

TEST_F(ScanTest, AutomaticDownloadsOffStillRefreshTheList) {
    serveFooEpisode();
    list = std::nullopt;
    system.setIsEnable(false);
    scan();
    EXPECT_EQ(lines(), Lines{"Update Anime List."});
    EXPECT_EQ(listPosts.objects().size(), 1u);
    EXPECT_EQ(site.listRequests(), 1);
    EXPECT_TRUE(site.siteRequests().empty());
}

TEST_F(ScanTest, MissingListsEndTheScan) {
    site.setDownloadList(std::nullopt);
    list = std::nullopt;
    scan();
    EXPECT_EQ(lines(), (Lines{"Failed to Update Anime List.", "Start Analyze.",
                              "Failed to Get AutoDownloadList."}));
    platform->log.clear();
    list = PlistValue::array();
    scan(std::nullopt);
    EXPECT_EQ(lines(), (Lines{"Failed to Update Anime List.", "Start Analyze.",
                              "Failed to Get EpisodeList."}));
    EXPECT_TRUE(site.siteRequests().empty());
}

TEST_F(ScanTest, MissingListHandedInIsSuppliedByTheRefresh) {
    serveFooEpisode();
    list = std::nullopt;
    scan();
    EXPECT_EQ(lines().front(), "Update Anime List.");
    EXPECT_EQ(requestPosts.objects().size(), 3u);
}

TEST_F(ScanTest, TopPageProblemsEndTheScan) {
    scan();
    EXPECT_EQ(lines(), (Lines{"Start Analyze.", "Failed to Get HTML: Top Page."}));
    platform->log.clear();
    site.setTopPage("<h2 class=\"home_head\">新着動画</h2>\n" +
                    FixtureSite::titleBlock("w/foo5", "Foo 第5話 HD"));
    scan();
    EXPECT_EQ(lines(),
              (Lines{"Start Analyze.", "Get HTML: Top Page.", "Error in HTML: Top Page."}));
}

TEST_F(ScanTest, KeywordOnlyOutsideTheRankingIsNotFound) {
    site.setTopPage(FixtureSite::topPage({FixtureSite::titleBlock("w/bar1", "Bar 第1話")},
                                         {FixtureSite::titleBlock("w/foo5", "Foo 第5話 HD")}));
    scan();
    EXPECT_EQ(lines(), (Lines{"Start Analyze.", "Get HTML: Top Page.", "Search Keyword: Foo in Foo",
                              "Not Found: Foo in Foo", "Terminate Analyze."}));
}

TEST_F(ScanTest, LaterOfTwoMatchingBlocksIsAnalysedOnce) {
    site.setTopPage(FixtureSite::topPage({FixtureSite::titleBlock("w/foo4", "Foo 第4話 HD"),
                                          FixtureSite::titleBlock("w/foo5", "Foo 第5話 HD")},
                                         {}));
    site.setPage("w/foo5", FixtureSite::episodePage("Foo 第5話 HD", video(1), {}));
    scan();
    EXPECT_EQ(site.siteRequests(), (Lines{"/", "/w/foo5"}));
    EXPECT_EQ(requestPosts.objects(),
              std::vector<PlistValue>{request(video(1), "Foo", "Foo (05)")});
}

TEST_F(ScanTest, EmptyRelativePathAnalysesTheTopPageItself) {
    site.setTopPage(FixtureSite::topPage({FixtureSite::titleBlock("", "Foo 第5話 HD")}, {}));
    scan();
    EXPECT_EQ(site.siteRequests(), (Lines{"/", "/"}));
    const Lines got = lines();
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[3], "Match Keyword: Foo in Foo");
    // The top page's title line starts with "<head>".
    EXPECT_EQ(got[4], "Failed to Analyze Page: Foo");
}

TEST_F(ScanTest, FirstMatchingKeywordEndsTheSearch) {
    serveFooEpisode();
    list = PlistValue::array({FixtureSite::animeRecord("Foo", {"Baz", "Foo", "Bar"})});
    site.setDownloadList(list);
    scan();
    const Lines got = lines();
    ASSERT_GE(got.size(), 6u);
    EXPECT_EQ(Lines(got.begin() + 2, got.begin() + 6),
              (Lines{"Search Keyword: Baz in Foo", "Not Found: Baz in Foo",
                     "Search Keyword: Foo in Foo", "Match Keyword: Foo in Foo"}));
    EXPECT_EQ(got[6], "Get Page: Foo 第5話 HD");
}

TEST_F(ScanTest, OnlyTheBooleanFalseSkipsARecord) {
    serveFooEpisode();
    PlistValue zero = FixtureSite::animeRecord("Foo", {"Foo"}, std::nullopt);
    zero.asDictionary()->emplace("status", PlistValue::integer(0));
    list = PlistValue::array({FixtureSite::animeRecord("Bar", {"Bar"}, false), zero,
                              FixtureSite::animeRecord("Baz", {"", "Baz"}, std::nullopt)});
    site.setDownloadList(list);
    scan();
    const Lines got = lines();
    EXPECT_EQ(std::count(got.begin(), got.end(), "Search Keyword: Bar in Bar"), 0);
    EXPECT_EQ(std::count(got.begin(), got.end(), "Match Keyword: Foo in Foo"), 1);
    // A record without "status" is searched; an empty keyword never matches.
    EXPECT_EQ(Lines(got.end() - 5, got.end()),
              (Lines{"Search Keyword:  in Baz", "Not Found:  in Baz", "Search Keyword: Baz in Baz",
                     "Not Found: Baz in Baz", "Terminate Analyze."}));
    EXPECT_EQ(requestPosts.objects().size(), 3u);
}

TEST_F(ScanTest, EpisodePageFailuresAreLoggedAndTheScanGoesOn) {
    site.setTopPage(FixtureSite::topPage({FixtureSite::titleBlock("w/missing", "Foo 第5話 HD"),
                                          FixtureSite::titleBlock("w/a b", "Bar 第5話 HD")},
                                         {}));
    site.setPage("w/a b", FixtureSite::episodePage("Bar 第5話 HD", video(1), {}));
    list = PlistValue::array(
        {FixtureSite::animeRecord("Foo", {"Foo"}), FixtureSite::animeRecord("Bar", {"Bar"})});
    site.setDownloadList(list);
    scan();
    const Lines got = lines();
    ASSERT_EQ(got.size(), 9u);
    EXPECT_EQ(got[4], "Failed to Get Page: Foo");
    // A path holding a space is no address and is not fetched.
    EXPECT_EQ(got[7], "Failed to Get Page: Bar");
    EXPECT_EQ(site.siteRequests(), (Lines{"/", "/w/missing"}));
}

// The list fetch fails too: the scan goes on with the list handed in. A title holding "/" is
// downloaded like any other; one holding NUL cannot name a file and is skipped.
TEST_F(ScanTest, FaultyPagesAndRecordsAreSkippedWithAReason) {
    const std::string nulTitle("x\0y", 3);
    site.setTopPage(FixtureSite::topPage({FixtureSite::titleBlock("w/re", "Re/Start 第1話 HD"),
                                          FixtureSite::titleBlock("w/x", "x 第1話 HD"),
                                          FixtureSite::titleBlock("w/foo", "Foo 第5話 HD")},
                                         {}));
    site.setPage("w/re", FixtureSite::episodePage("Re/Start 第1話 HD", video(1), {}));
    site.setPage("w/foo",
                 "<title>Foo 第5話 HD</title>\nvar display_movie_url = 'file:///etc/"
                 "passwd';\nvar ary_spare_sources = [\"" +
                     video(2) + "\"]\n");
    list = PlistValue::array(
        {PlistValue::string("junk"), FixtureSite::animeRecord("Re/Start", {"Re/Start"}),
         FixtureSite::animeRecord(nulTitle, {"x"}), FixtureSite::animeRecord("Foo", {"Foo"})});
    site.setDownloadList(std::nullopt);
    scan();
    EXPECT_EQ(
        lines(),
        (Lines{"Failed to Update Anime List.", "Start Analyze.", "Get HTML: Top Page.",
               "Skipped Invalid Record: record 0 not a dictionary.",
               "Search Keyword: Re/Start in Re/Start", "Match Keyword: Re/Start in Re/Start",
               "Get Page: Re/Start 第1話 HD", "HD Movie Detected: Re/Start (01)",
               "Start AutoDownload: Re/Start (01)", "Search Keyword: x in x\\x00y",
               "Match Keyword: x in x\\x00y",
               "Skipped Anime: its title cannot name a file: x\\x00y", "Search Keyword: Foo in Foo",
               "Match Keyword: Foo in Foo", "Get Page: Foo 第5話 HD</title>",
               "HD Movie Detected: Foo (05)", "Skipped Movie URL: not http or https in Foo (05)",
               "Start AutoDownload: Foo (05)", "Terminate Analyze."}));
    EXPECT_EQ(requestPosts.objects(),
              (std::vector<PlistValue>{request(video(1), "Re/Start", "Re/Start (01)"),
                                       request(video(2), "Foo", "Foo (05)")}));
    EXPECT_TRUE(listPosts.objects().empty());
}

TEST_F(ScanTest, EpisodeNumberOutOfRangeIsNoEpisode) {
    serveFooEpisode("Foo HD 第10000話");
    scan();
    const Lines got = lines();
    ASSERT_EQ(got.size(), 7u);
    EXPECT_EQ(got[4], "Get Page: Foo HD 第10000話");
    EXPECT_EQ(got[5], "Failed to Get Episode.");
    EXPECT_TRUE(requestPosts.objects().empty());
}

}  // namespace
}  // namespace kestrova
