// The coordinator's state (the download status table, the stored lists), then the application
// delegate over a whole test platform in a temporary home folder.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

#include "app/AppDelegate.h"
#include "app/DownloadStatusTable.h"
#include "app/StoredLists.h"
#include "platform/system/Files.h"
#include "support/TestPlatform.h"
#include "support/Wait.h"

namespace kestrova {
namespace {

PlistValue record(const std::string& id, const std::string& status) {
    return PlistValue::dictionary({{"id", PlistValue::string(id)},
                                   {"name", PlistValue::string("file" + id)},
                                   {"percentage", PlistValue::string("0%")},
                                   {"status", PlistValue::string(status)}});
}

// Setup appends (also a second time for the same id), later reports replace the first row with
// that id, unknown ids and non-records change nothing; deleting keeps the running rows in order.
TEST(DownloadStatusTable, ReportsBuildTheTableDeleteKeepsRunningRows) {
    DownloadStatusTable table;
    const auto statuses = [&] {
        std::vector<std::string> out;
        for (const auto& row : table.snapshot())
            out.push_back(row.stringFor("id") + ":" + row.stringFor("status"));
        return out;
    };
    for (const std::string step : {"1:setup", "2:setup", "3:setup", "1:downloading", "7:error",
                                   "2:setup", "2:complete", "3:error"}) {
        table.apply(record(step.substr(0, 1), step.substr(2)));
    }
    table.apply(PlistValue::string("not a record"));
    EXPECT_EQ(statuses(),
              (std::vector<std::string>{"1:downloading", "2:complete", "3:error", "2:setup"}));
    EXPECT_EQ(table.countWithStatus("downloading"), 1u);
    table.deleteCompleted();
    EXPECT_EQ(statuses(), (std::vector<std::string>{"1:downloading", "2:setup"}));
}

// The lists of the automatic system at launch: flags of titles no longer followed are dropped from
// memory and store, except when that leaves nothing (the store keeps its record) or the record is
// the shipped one; stored values of the wrong type read as absent.
TEST(StoredLists, LoadingPrunesAndRefusesValuesOfTheWrongType) {
    const auto flags = PlistValue::array({PlistValue::boolean(false), PlistValue::boolean(true)});
    const auto foo = PlistValue::dictionary({{"Foo", flags}});
    const auto gone = PlistValue::dictionary({{"Gone", flags}});
    const auto none = PlistValue::dictionary();
    const auto followed =
        PlistValue::array({PlistValue::dictionary({{"title", PlistValue::string("Foo")}})});
    struct Row {
        PlistValue dlst, eplst, shipped;
        std::optional<PlistValue> list, stored;
        std::size_t complaints;
    };
    for (const auto& row :
         {Row{followed, PlistValue::dictionary({{"Foo", flags}, {"Gone", flags}}), none, foo, foo,
              0},
          Row{followed, gone, none, none, gone, 0}, Row{followed, gone, gone, gone, gone, 0},
          Row{PlistValue::string("not a list"), PlistValue::array(), none, none, std::nullopt,
              2}}) {
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
        std::ifstream in(platform.files.applicationDirectory() / "activity.log");
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }
    void post(const char* name, PlistValue value) { platform.center.post(name, std::move(value)); }

    test::TestPlatform platform;
    std::unique_ptr<AppDelegate> delegate;
};

// A first launch writes nothing to the settings (registered values answer) and starts the log
// without a separator; a relaunch separates the runs with three empty lines; the log survives a
// quit only when "saveLogFile" is on at that moment.
TEST_F(AppDelegateTest, LaunchesLogsAndKeepsTheLogOnlyWhenAsked) {
    launch();
    EXPECT_EQ(platform.log.lines().front(), "Application Launched.");
    EXPECT_FALSE(platform.reopenDefaults()->objectForKey("downloadedEpisodeList"));
    EXPECT_EQ(logText().find('\n'), logText().size() - 1);
    post("updateDefaults_saveLogFile", PlistValue::boolean(false));
    post("updateDefaults_saveLogFile", PlistValue::boolean(true));
    quit();
    launch();
    EXPECT_NE(logText().find("] Application Terminate.\n\n\n\n"), std::string::npos);
    post("updateDefaults_saveLogFile", PlistValue::boolean(false));
    quit();
    EXPECT_EQ(platform.log.lines().back(), "Application Terminate.");
    EXPECT_FALSE(Files::exists(platform.files.applicationDirectory() / "activity.log"));
}

// Settings notifications carry the new value (never a toggle) and are stored; objects of the
// wrong type are ignored rather than misread; whole lists are stored as they come.
TEST_F(AppDelegateTest, SettingsAndListsAreStored) {
    launch();
    for (const char* name :
         {"updateDefaults_useAutoDownloadSystem", "updateDefaults_useAutoDownloadSystem",
          "updateDefaults_saveDebugLog"}) {
        post(name, PlistValue::boolean(true));
    }
    post("updateDefaults_saveLogFile", PlistValue::boolean(false));
    post("updateDefaults_saveLogFile", PlistValue::string("YES"));
    const auto list =
        PlistValue::array({PlistValue::dictionary({{"title", PlistValue::string("Bar")}})});
    post("updateDefaults_dlst", list);
    post("updateDefaults_dlst", PlistValue::string("not a list"));
    const auto episodes = PlistValue::dictionary({{"Bar", PlistValue::array()}});
    post("updateDefaults_eplst", episodes);
    post("updateDefaults_eplst", PlistValue::array());
    const auto stored = platform.reopenDefaults();
    EXPECT_TRUE(stored->boolForKey("useAutoDownloadSystem"));
    EXPECT_TRUE(stored->boolForKey("saveDebugLog"));
    EXPECT_FALSE(stored->boolForKey("saveLogFile"));
    EXPECT_EQ(stored->arrayForKey("autoDownloadList"), list);
    EXPECT_EQ(stored->dictionaryForKey("downloadedEpisodeList"), episodes);
    quit();
}

// However its scheme is written, an https address is refused: a manual one with the alert, an
// automatic one without a word; both spend an id. An automatic request takes the entries of the
// first record with its title, whatever else the list holds (here a valid "time"; one without a
// record logs its fallback).
TEST_F(AppDelegateTest, RequestsBecomeOperationsHttpsIsRefused) {
    const auto foo = [](PlistValue time) {
        return PlistValue::dictionary(
            {{"title", PlistValue::string("Foo")}, {"time", std::move(time)}});
    };
    platform.defaults.setObject(
        PlistValue::array({PlistValue::string("junk"),
                           PlistValue::dictionary({{"title", PlistValue::integer(7)}}),
                           foo(PlistValue::integer(24)), foo(PlistValue::string("bad"))}),
        "autoDownloadList");
    launch();
    const auto request = [](const std::string& url, std::string title = "") {
        PlistValue::Dictionary entries{{"URL", PlistValue::string(url)}};
        if (!title.empty()) {
            entries.emplace("title", PlistValue::string(title));
            entries.emplace("file", PlistValue::string(title + " (01)"));
        }
        return PlistValue::dictionary(std::move(entries));
    };
    std::atomic<int> reportedId = 0;  // only the manual download reports
    platform.center.addObserver(&reportedId, "downloadStatus", [&](const PlistValue& report) {
        reportedId = std::stoi(report.stringFor("id"));
    });
    post("downloadRequest", request("HTTPS://x/a"));
    post("downloadRequest", request("https://x/b", "Foo"));
    ASSERT_EQ(platform.alerts.shown().size(), 1u);
    const Alert alert = platform.alerts.shown()[0];
    EXPECT_EQ(alert.messageText, "Kestrova エラー");
    EXPECT_EQ(alert.informativeText, "https 通信には対応しておりません。");
    EXPECT_EQ(alert.buttons, (std::vector<std::string>{"OK"}));
    // Nothing listens on port 9: each fails before its destination exists.
    for (const auto& [path, title] : {std::pair{"v", "Foo"}, {"w", "Unknown"}, {"f", ""}}) {
        post("downloadRequest", request(std::string("http://127.0.0.1:9/") + path, title));
    }
    ASSERT_TRUE(test::waitUntil([&] {
        return reportedId != 0 &&
               platform.log.linesStartingWith("AutoDownloadSystem -> Download Failed").size() == 2;
    }));
    EXPECT_EQ(reportedId, 5);
    EXPECT_EQ(platform.log.linesStartingWith("FileDownload -> Init: ").size(), 1u);
    EXPECT_EQ(platform.log.linesStartingWith("AutoDownloadSystem -> Detect Error").size(), 1u);
    platform.center.removeObserver(&reportedId);
    quit();
}

// Quitting asks only while a download is downloading, and its answer is the reply.
TEST_F(AppDelegateTest, QuitAsksOnlyWhileADownloadIsDownloading) {
    launch();
    int id = 0;
    for (const char* status : {"setup", "setup", "complete", "error", "downloading"}) {
        EXPECT_EQ(delegate->applicationShouldTerminate(), 1) << "before a row " << status;
        post("downloadStatus", record(std::to_string(++id), "setup"));
        post("downloadStatus", record(std::to_string(id), status));
    }
    EXPECT_TRUE(platform.alerts.shown().empty());
    platform.alerts.answerNext(0);
    EXPECT_EQ(delegate->applicationShouldTerminate(), 0);
    platform.alerts.answerNext(1);
    EXPECT_EQ(delegate->applicationShouldTerminate(), 1);
    ASSERT_EQ(platform.alerts.shown().size(), 2u);
    const Alert alert = platform.alerts.shown()[0];
    EXPECT_EQ(alert.shape, Alert::Shape::DefaultAlternateOther);
    EXPECT_EQ(alert.messageText, "Kestrova");
    EXPECT_EQ(alert.buttons, (std::vector<std::string>{"終了", "キャンセル", ""}));
    EXPECT_EQ(alert.informativeText,
              "ダウンロードが完了していないアイテムがあります。\nこのまま終了しますか？");
    quit();
}

}  // namespace
}  // namespace kestrova
