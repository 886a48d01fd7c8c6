#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>

#include "app/ActivityLog.h"
#include "app/AppDelegate.h"
#include "app/DownloadStatusTable.h"
#include "app/StoredLists.h"
#include "demo/DemoSite.h"
#include "download/DownloadJournal.h"
#include "download/TestFiles.h"
#include "platform/system/Files.h"
#include "support/LoopbackServer.h"
#include "support/TestPlatform.h"
#include "support/Wait.h"

namespace kestrova {
namespace {

PlistValue record(const std::string& id, const std::string& status) {
    return PlistValue::dictionary(
        {{"id", PlistValue::string(id)}, {"status", PlistValue::string(status)}});
}

// 31,457,280 bytes stay, one byte more and the log starts anew, at launch and while running.
TEST(ActivityLog, StartsAnewOnlyAboveThirtyMebibytes) {
    for (const auto& [size, running] :
         {std::pair{31457280, false}, {31457281, false}, {31457280, true}, {31457281, true}}) {
        const bool kept = size == 31457280;
        SCOPED_TRACE(testing::Message() << size << (running ? " while running" : " at launch"));
        test::TempDir dir;
        test::RecordingLog log;
        ActivityLog activity(dir.path() / "Documents" / "Kestrova");
        if (running) activity.prepareAndRedirect(log);
        Files::createDirectories(activity.path().parent_path());
        std::ofstream(activity.path(), std::ios::binary | std::ios::app).put('\n');
        std::filesystem::resize_file(activity.path(), static_cast<std::uintmax_t>(size));
        running ? activity.applySizeRule(log) : activity.prepareAndRedirect(log);
        log.log("next");
        // After the kept bytes: a relaunch's separator, then new lines only (two if restarted).
        const std::string rest = test::readFile(activity.path()).substr(kept ? size : 0);
        EXPECT_EQ(rest.starts_with("\n\n\n"), kept && !running);
        EXPECT_TRUE(rest.ends_with("] next\n")) << rest.substr(0, 80);
        EXPECT_EQ(std::count(rest.begin(), rest.end(), '\n'),
                  kept ? (running ? 1 : 4) : (running ? 2 : 1));
    }
}

// A dangling link at the log's path is neither followed, written nor removed.
TEST(ActivityLog, ALinkInItsPlaceIsRefusedAndLeftAlone) {
    test::TempDir dir;
    test::RecordingLog log;
    ActivityLog activity(dir.path());
    std::filesystem::create_symlink(dir.path() / "target", activity.path());
    activity.prepareAndRedirect(log);
    activity.removeIfPresent();
    EXPECT_TRUE(std::filesystem::is_symlink(activity.path()));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "target"));
    EXPECT_EQ(log.linesStartingWith("ActivityLog -> Not a regular file").size(), 1u);
}

// Setup appends (even for a known id), later reports replace the first row with that id.
TEST(DownloadStatusTable, ReportsBuildTheTableDeleteKeepsRunningRows) {
    DownloadStatusTable table;
    const auto statuses = [&] {
        std::string out;
        for (const auto& row : table.snapshot())
            out += row.stringFor("id") + row.stringFor("status") + " ";
        return out;
    };
    for (const std::string step : {"1:setup", "2:setup", "3:setup", "1:downloading", "7:error",
                                   "2:setup", "2:complete", "3:error"}) {
        table.apply(record(step.substr(0, 1), step.substr(2)));
    }
    table.apply(PlistValue::string("not a record"));
    EXPECT_EQ(statuses(), "1downloading 2complete 3error 2setup ");
    EXPECT_EQ(table.countWithStatus("downloading"), 1u);
    table.deleteCompleted();
    EXPECT_EQ(statuses(), "1downloading 2setup ");
}

// Flags of titles no longer followed are dropped, but the store keeps its record when none are
// left or it is the shipped one; stored values of the wrong type read as absent.
TEST(StoredLists, LoadingPrunesAndRefusesValuesOfTheWrongType) {
    const auto flags = PlistValue::array({PlistValue::boolean(false), PlistValue::boolean(true)});
    const auto foo = PlistValue::dictionary({{"Foo", flags}});
    const auto gone = PlistValue::dictionary({{"Gone", flags}}), none = PlistValue::dictionary();
    const auto both = PlistValue::dictionary({{"Foo", flags}, {"Gone", flags}});
    const auto followed =
        PlistValue::array({PlistValue::dictionary({{"title", PlistValue::string("Foo")}})});
    struct Row {
        PlistValue dlst, eplst, shipped;
        std::optional<PlistValue> list, stored;
        std::size_t complaints;
    };
    for (const auto& row :
         {Row{followed, both, none, foo, foo, 0},
          {followed, gone, none, none, gone, 0},
          {followed, gone, gone, gone, gone, 0},
          {PlistValue::string("not a list"), PlistValue::array(), none, none, {}, 2}}) {
        test::TempDir dir;
        test::RecordingLog log;
        UserDefaults defaults(dir.path() / "defaults.plist", log);
        defaults.setObject(row.dlst, "autoDownloadList");
        defaults.setObject(row.eplst, "downloadedEpisodeList");
        StoredLists lists(defaults);
        lists.load(row.shipped, log);
        EXPECT_EQ(lists.episodeList(), row.list);
        UserDefaults reopened(dir.path() / "defaults.plist", log);
        reopened.load();
        EXPECT_EQ(reopened.dictionaryForKey("downloadedEpisodeList"), row.stored);
        EXPECT_EQ(log.linesStartingWith("AppDelegate -> Stored ").size(), row.complaints);
        EXPECT_EQ(lists.downloadList().has_value(), row.complaints == 0);
    }
}

class AppDelegateTest : public ::testing::Test {
protected:
    void launch() {
        delegate = std::make_unique<AppDelegate>(platform.services);
        delegate->applicationDidFinishLaunching();
    }
    void quit() {
        delegate->applicationWillTerminate();
        delegate.reset();
    }
    std::string logText() const {
        return test::readFile(platform.files.applicationDirectory() / "activity.log");
    }
    void post(const std::string& name, PlistValue value) {
        platform.center.post(name, std::move(value));
    }

    test::TestPlatform platform;
    std::unique_ptr<AppDelegate> delegate;
};

// A corrupt store is set aside and said after the run's first line, where the user looks.
// Settings notifications carry the new value (never a toggle), those of the wrong type are
// ignored. The log survives a quit only when "saveLogFile" is on at that moment. Quitting asks
// only while a download is downloading.
TEST_F(AppDelegateTest, SettingsAreStoredQuitAsksWhileDownloadingTheLogIsKeptOnlyWhenAsked) {
    test::writeFile(platform.files.configDirectory() / "kestrova/defaults.plist", "garbage");
    launch();
    EXPECT_EQ(platform.log.lines().front(), "Application Launched.");
    EXPECT_TRUE(
        platform.log.lines().at(1).starts_with("UserDefaults -> Unreadable settings moved"));
    EXPECT_FALSE(platform.reopenDefaults()->objectForKey("downloadedEpisodeList"));
    EXPECT_TRUE(logText().substr(0, logText().find('\n')).ends_with("] Application Launched."));
    const auto yes = PlistValue::boolean(true), no = PlistValue::boolean(false);
    const auto list =
        PlistValue::array({PlistValue::dictionary({{"title", PlistValue::string("Bar")}})});
    const auto episodes = PlistValue::dictionary({{"Bar", PlistValue::array()}});
    // clang-format off
    for (const auto& [name, value] : std::vector<std::pair<std::string, PlistValue>>{
             {"useAutoDownloadSystem", yes}, {"useAutoDownloadSystem", yes}, {"saveDebugLog", yes},
             {"saveLogFile", no}, {"saveLogFile", yes}, {"saveLogFile", PlistValue::string("NO")},
             {"dlst", list}, {"dlst", PlistValue::string("not a list")}, {"eplst", episodes},
             {"eplst", PlistValue::array()}}) {
        post("updateDefaults_" + name, value);
    }
    // clang-format on
    const auto stored = platform.reopenDefaults();
    for (const char* key : {"useAutoDownloadSystem", "saveDebugLog", "saveLogFile"})
        EXPECT_TRUE(stored->boolForKey(key)) << key;
    EXPECT_EQ(stored->arrayForKey("autoDownloadList"), list);
    EXPECT_EQ(stored->dictionaryForKey("downloadedEpisodeList"), episodes);
    quit();
    EXPECT_NE(logText().find("] Application Terminate.\n"), std::string::npos);
    launch();
    post("updateDefaults_saveLogFile", PlistValue::boolean(false));
    int id = 0;
    for (const char* status : {"setup", "setup", "complete", "error", "downloading"}) {
        EXPECT_EQ(delegate->applicationShouldTerminate(), 1) << "before a row " << status;
        post("downloadStatus", record(std::to_string(++id), "setup"));
        post("downloadStatus", record(std::to_string(id), status));
    }
    platform.alerts.answerNext(0);
    EXPECT_EQ(delegate->applicationShouldTerminate(), 0);
    platform.alerts.answerNext(1);
    EXPECT_EQ(delegate->applicationShouldTerminate(), 1);
    ASSERT_EQ(platform.alerts.shown().size(), 2u);
    const Alert alert = platform.alerts.shown()[0];
    EXPECT_EQ(alert.shape, Alert::Shape::DefaultAlternateOther);
    EXPECT_EQ(alert.buttons, (std::vector<std::string>{"終了", "キャンセル", ""}));
    EXPECT_EQ(alert.informativeText,
              "ダウンロードが完了していないアイテムがあります。\nこのまま終了しますか？");
    quit();
    EXPECT_EQ(platform.log.lines().back(), "Application Terminate.");
    EXPECT_FALSE(Files::exists(platform.files.applicationDirectory() / "activity.log"));
}

// A killed run's leftover goes at launch, and so does a journaled source of an episode recorded
// since; the launch scan gets the stored lists, so it finds the served list unchanged and the
// episode downloaded.
TEST(AppDelegateLaunch, RemovesLeftoversAndScansWithTheStoredLists) {
    const std::string title = "ヒカリノサキ";
    const PlistValue list = PlistValue::array({DemoSite::animeRecord(title, {title})});
    DemoSite site;
    site.setDownloadList(list);
    site.setTopPage(DemoSite::topPage({DemoSite::titleBlock("w/5", title)}, {}));
    site.setPage("w/5", DemoSite::episodePage(title + " 第5話 HD", site.siteURL() + "v/1", {}));
    test::TestPlatform platform({.serverURL = site.serverURL(), .siteURL = site.siteURL()});
    const auto leftover = platform.files.applicationDirectory() / "earlier (01).download";
    test::writeFile(leftover, "left by a run that was killed");
    const std::string source = title + " (05).download";
    const auto recorded = platform.files.applicationDirectory() / source;
    test::writeFile(recorded, "a source of the last run");
    DownloadJournal(platform.files.configDirectory() / "kestrova/journal.plist", platform.log)
        .add({.url = site.siteURL() + "v/1",
              .file = source,
              .length = -1,
              .kept = 0,
              .validator = "",
              .inode = Files::inode(recorded),
              .title = title,
              .episode = title + " (05)"});
    PlistValue::Array fifth(6, PlistValue::boolean(false));
    fifth[5] = PlistValue::boolean(true);
    platform.defaults.setObject(PlistValue::boolean(true), "useAutoDownloadSystem");
    platform.defaults.setObject(list, "autoDownloadList");
    platform.defaults.setObject(PlistValue::dictionary({{title, PlistValue::array(fifth)}}),
                                "downloadedEpisodeList");
    AppDelegate delegate(platform.services);
    delegate.applicationDidFinishLaunching();
    EXPECT_TRUE(test::waitUntil([&] {
        return platform.log.contains("AutoDownloadSystem -> Already Downloaded: " + title +
                                     " (05)");
    }));
    delegate.applicationWillTerminate();
    EXPECT_FALSE(platform.log.contains("AutoDownloadSystem -> Update Anime List."));
    EXPECT_FALSE(Files::exists(leftover));
    EXPECT_FALSE(Files::exists(recorded));
    EXPECT_TRUE(platform.log.contains("DownloadJournal -> Dropped: " + source +
                                      " (the episode is recorded)"));
}

// "connectionsPerDownload" reaches each download, kept within 1 to 16 (a value of another type
// means the default of 4): a file of 9 MiB taking ranges is split or not.
TEST_F(AppDelegateTest, DownloadsOpenTheConnectionsTheSettingAllows) {
    for (const auto& [setting, split] :
         {std::pair{PlistValue::integer(0), false}, {PlistValue::string("many"), true}}) {
        test::LoopbackServer server;
        const std::string body = test::LoopbackServer::pattern(9 << 20);
        const std::vector<std::pair<std::string, std::string>> etag{{"ETag", "\"e\""},
                                                                    {"Accept-Ranges", "bytes"}};
        // The first reply slows after 1 MiB, so that the split comes before its end.
        server.replies("/big", {{.body = body,
                                 .delivery = test::LoopbackServer::Delivery::Trickle,
                                 .headers = etag,
                                 .part = 1 << 20,
                                 .trickle = 256 << 10},
                                {.body = body, .headers = etag, .ranges = true}});
        platform.defaults.setObject(setting, "connectionsPerDownload");
        launch();
        post("downloadRequest",
             PlistValue::dictionary({{"URL", PlistValue::string(server.url("/big"))}}));
        ASSERT_TRUE(test::waitUntil([&] {
            return platform.log.linesStartingWith("FileDownload -> Download Complete").size() ==
                   (split ? 2u : 1u);
        }));
        EXPECT_TRUE(test::readFile(platform.files.downloadsDirectory() / "big") == body);
        EXPECT_EQ(server.requestCount("/big") >= 4, split) << server.requestCount("/big");
        quit();
        std::filesystem::remove(platform.files.downloadsDirectory() / "big");
    }
}

// https is refused unless "allowHTTPS" is set: a manual request with the alert, an automatic one
// silently; both spend an id. An automatic request takes the first record with its title (a
// valid "time").
class RequestTest : public AppDelegateTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RequestTest, RequestsBecomeOperationsHttpsOnlyWhenAllowed) {
    const bool allowed = GetParam();
    const auto foo = [](PlistValue time) {
        return PlistValue::dictionary(
            {{"title", PlistValue::string("Foo")}, {"time", std::move(time)}});
    };
    platform.defaults.setObject(
        PlistValue::array({PlistValue::string("junk"),
                           PlistValue::dictionary({{"title", PlistValue::integer(7)}}),
                           foo(PlistValue::integer(24)), foo(PlistValue::string("bad"))}),
        "autoDownloadList");
    platform.defaults.setObject(PlistValue::boolean(allowed), "allowHTTPS");
    launch();
    std::mutex mutex;
    std::set<std::string> reported;  // the ids of the manual downloads, which alone report
    platform.center.addObserver(&reported, "downloadStatus", [&](const PlistValue& report) {
        std::lock_guard lock(mutex);
        reported.insert(report.stringFor("id"));
    });
    // Nothing listens on port 9: each download fails before its destination exists.
    for (const auto& [url, title] : {std::pair{"HTTPS://127.0.0.1:9/a", ""},
                                     {"https://127.0.0.1:9/b", "Foo"},
                                     {"http://127.0.0.1:9/v", "Foo"},
                                     {"http://127.0.0.1:9/w", "Unknown"},
                                     {"http://127.0.0.1:9/f", ""}}) {
        PlistValue::Dictionary request{{"URL", PlistValue::string(url)}};
        if (*title) {
            request.insert({{"title", PlistValue::string(title)},
                            {"file", PlistValue::string(title + std::string(" (01)"))}});
        }
        post("downloadRequest", PlistValue::dictionary(std::move(request)));
    }
    ASSERT_EQ(platform.alerts.shown().size(), allowed ? 0u : 1u);
    if (!allowed) {
        EXPECT_EQ(
            platform.alerts.shown()[0].informativeText + platform.alerts.shown()[0].buttons[0],
            "https 通信には対応しておりません。OK");
    }
    const std::set<std::string> ids =
        allowed ? std::set<std::string>{"1", "5"} : std::set<std::string>{"5"};
    ASSERT_TRUE(test::waitUntil([&] {
        std::lock_guard lock(mutex);
        return reported == ids &&
               platform.log.linesStartingWith("AutoDownloadSystem -> Download Failed").size() ==
                   (allowed ? 3u : 2u);
    }));
    EXPECT_EQ(platform.log.linesStartingWith("FileDownload -> Init: ").size(), ids.size());
    EXPECT_EQ(platform.log.linesStartingWith("AutoDownloadSystem -> Detect Error").size(), 1u);
    platform.center.removeObserver(&reported);
    quit();
}

INSTANTIATE_TEST_SUITE_P(AllowHTTPS, RequestTest, ::testing::Bool());

}  // namespace
}  // namespace kestrova
