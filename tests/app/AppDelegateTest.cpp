// The application delegate over a whole test platform in a temporary home folder: launch,
// settings, the coordinator's requests, the quit question and quitting.
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>

#include "app/AppDelegate.h"
#include "platform/system/Files.h"
#include "support/ParamName.h"
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

PlistValue request(const std::string& url, const char* title = nullptr) {
    PlistValue::Dictionary entries{{"URL", PlistValue::string(url)}};
    if (title != nullptr) {
        entries.emplace("title", PlistValue::string(title));
        entries.emplace("file", PlistValue::string(std::string(title) + " (01)"));
    }
    return PlistValue::dictionary(std::move(entries));
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

    test::TestPlatform platform;
    std::unique_ptr<AppDelegate> delegate;
};

// A first launch writes nothing to the settings (registered values answer) and the log begins
// with the launch; a relaunch separates the runs with three empty lines; the log survives a quit
// only when "saveLogFile" is on at that moment.
TEST_F(AppDelegateTest, LaunchesLogsAndKeepsTheLogOnlyWhenAsked) {
    launch();
    EXPECT_EQ(platform.log.lines().front(), "Application Launched.");
    EXPECT_FALSE(platform.reopenDefaults()->objectForKey("downloadedEpisodeList"));
    platform.center.post("updateDefaults_saveLogFile", PlistValue::boolean(false));
    platform.center.post("updateDefaults_saveLogFile", PlistValue::boolean(true));
    quit();
    launch();
    EXPECT_NE(logText().find("] Application Terminate.\n\n\n\n"), std::string::npos);
    platform.center.post("updateDefaults_saveLogFile", PlistValue::boolean(false));
    quit();
    EXPECT_EQ(platform.log.lines().back(), "Application Terminate.");
    EXPECT_FALSE(Files::exists(platform.files.applicationDirectory() / "activity.log"));
}

// Settings notifications carry the new value (never a toggle) and are stored; objects of the
// wrong type are ignored rather than misread; whole lists are stored as they come.
TEST_F(AppDelegateTest, SettingsAndListsAreStored) {
    launch();
    const auto on = PlistValue::boolean(true);
    for (const char* name :
         {"updateDefaults_useAutoDownloadSystem", "updateDefaults_useAutoDownloadSystem",
          "updateDefaults_saveDebugLog"}) {
        platform.center.post(name, on);
    }
    platform.center.post("updateDefaults_saveLogFile", PlistValue::boolean(false));
    platform.center.post("updateDefaults_saveLogFile", PlistValue::string("YES"));
    const auto list =
        PlistValue::array({PlistValue::dictionary({{"title", PlistValue::string("Bar")}})});
    platform.center.post("updateDefaults_dlst", list);
    platform.center.post("updateDefaults_dlst", PlistValue::string("not a list"));
    const auto episodes = PlistValue::dictionary({{"Bar", PlistValue::array()}});
    platform.center.post("updateDefaults_eplst", episodes);
    platform.center.post("updateDefaults_eplst", PlistValue::array());
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
// first record with its title (here a valid "time"; one without a record logs its fallback).
TEST_F(AppDelegateTest, RequestsBecomeOperationsHttpsIsRefused) {
    platform.defaults.setObject(
        PlistValue::array({PlistValue::dictionary(
            {{"title", PlistValue::string("Foo")}, {"time", PlistValue::integer(24)}})}),
        "autoDownloadList");
    launch();
    std::mutex mutex;
    std::vector<PlistValue> reports;
    platform.center.addObserver(&reports, "downloadStatus", [&](const PlistValue& r) {
        std::lock_guard lock(mutex);
        reports.push_back(r);
    });
    platform.center.post("downloadRequest", request("HTTPS://x/a"));
    platform.center.post("downloadRequest", request("https://x/b", "Foo"));
    ASSERT_EQ(platform.alerts.shown().size(), 1u);
    const Alert alert = platform.alerts.shown()[0];
    EXPECT_EQ(alert.messageText, "Kestrova エラー");
    EXPECT_EQ(alert.informativeText, "https 通信には対応しておりません。");
    EXPECT_EQ(alert.buttons, (std::vector<std::string>{"OK"}));
    platform.center.post("downloadRequest", request("http://127.0.0.1:9/v", "Foo"));
    platform.center.post("downloadRequest", request("http://127.0.0.1:9/w", "Unknown"));
    // Nothing listens on port 9: each fails before its destination exists.
    platform.center.post("downloadRequest", request("http://127.0.0.1:9/f"));
    ASSERT_TRUE(test::waitUntil([&] {
        std::lock_guard lock(mutex);
        return !reports.empty() &&
               platform.log.linesStartingWith("AutoDownloadSystem -> Download Failed").size() == 2;
    }));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(reports[0].stringFor("id"), "5");
        EXPECT_EQ(reports[0].stringFor("status"), "error");
        EXPECT_EQ(reports[0].stringFor("name"), "ファイル名を取得できませんでした");
    }
    EXPECT_EQ(platform.log.linesStartingWith("FileDownload -> Init: ").size(), 1u);
    EXPECT_EQ(platform.log.linesStartingWith("AutoDownloadSystem -> Detect Error").size(), 1u);
    ASSERT_TRUE(test::waitUntil([&] { return !platform.banners().empty(); }));
    EXPECT_EQ(platform.banners()[0].first, "ダウンロード エラー");
    platform.center.removeObserver(&reports);
    quit();
}

struct QuitCase {
    const char* name;
    std::vector<std::string> rows;  // statuses of the table's rows
    int alertAnswer;                // scripted answer, or -2 for none scripted
    bool expectAlert;
    int expectedReply;
};

class AppDelegateQuitTest : public AppDelegateTest,
                            public ::testing::WithParamInterface<QuitCase> {};

TEST_P(AppDelegateQuitTest, AsksOnlyWhileADownloadIsDownloading) {
    launch();
    int id = 0;
    for (const auto& status : GetParam().rows) {
        const std::string text = std::to_string(++id);
        platform.center.post("downloadStatus", record(text, "setup"));
        platform.center.post("downloadStatus", record(text, status));
    }
    if (GetParam().alertAnswer != -2) platform.alerts.answerNext(GetParam().alertAnswer);
    EXPECT_EQ(delegate->applicationShouldTerminate(), GetParam().expectedReply);
    ASSERT_EQ(platform.alerts.shown().size(), GetParam().expectAlert ? 1u : 0u);
    if (GetParam().expectAlert) {
        const Alert alert = platform.alerts.shown()[0];
        EXPECT_EQ(alert.shape, Alert::Shape::DefaultAlternateOther);
        EXPECT_EQ(alert.messageText, "Kestrova");
        EXPECT_EQ(alert.buttons, (std::vector<std::string>{"終了", "キャンセル", ""}));
        EXPECT_EQ(alert.informativeText,
                  "ダウンロードが完了していないアイテムがあります。\nこのまま終了しますか？");
    }
    quit();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AppDelegateQuitTest,
    ::testing::Values(QuitCase{"Empty", {}, -2, false, 1},
                      QuitCase{
                          "SetupAndFinishedOnly", {"setup", "complete", "error"}, -2, false, 1},
                      QuitCase{"DownloadingCancel", {"complete", "downloading"}, 0, true, 0},
                      QuitCase{"DownloadingQuit", {"downloading"}, 1, true, 1}),
    test::ParamName());

}  // namespace
}  // namespace kestrova
