// The application delegate over a whole test platform in a temporary home folder: launch,
// settings, pruning, the download coordinator's table and requests, and quitting.
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>

#include "app/AppDelegate.h"
#include "messages/Notifications.h"
#include "platform/plist/PlistIO.h"
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

PlistValue anime(const std::string& title, PlistValue::Dictionary extra = {}) {
    extra.emplace("title", PlistValue::string(title));
    return PlistValue::dictionary(std::move(extra));
}

class AppDelegateTest : public ::testing::Test {
protected:
    explicit AppDelegateTest(test::TestPlatform::Options options = {})
        : platform(std::move(options)) {}

    void launch() {
        delegate = std::make_unique<AppDelegate>(platform.services);
        delegate->applicationDidFinishLaunching();
    }
    void quit() {
        delegate->applicationWillTerminate();
        delegate.reset();
    }
    void storeList(const PlistValue& dlst, const PlistValue& eplst) {
        platform.defaults.setObject(dlst, "autoDownloadList");
        platform.defaults.setObject(eplst, "downloadedEpisodeList");
    }
    std::filesystem::path logPath() const {
        return platform.files.applicationDirectory() / "activity.log";
    }

    test::TestPlatform platform;
    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(AppDelegateTest, FirstLaunchUsesRegisteredValuesAndShippedLists) {
    launch();
    EXPECT_TRUE(Files::exists(logPath()));
    ASSERT_FALSE(platform.log.lines().empty());
    EXPECT_EQ(platform.log.lines().front(), "Application Launched.");
    // No pruning: the stored record equals the shipped one, so nothing was written.
    EXPECT_FALSE(platform.reopenDefaults()->objectForKey("downloadedEpisodeList"));
    quit();
}

TEST_F(AppDelegateTest, SettingsNotificationsStoreTheNewValueNeverAToggle) {
    launch();
    platform.center.post("updateDefaults_useAutoDownloadSystem", PlistValue::boolean(true));
    platform.center.post("updateDefaults_useAutoDownloadSystem", PlistValue::boolean(true));
    platform.center.post("updateDefaults_saveDebugLog", PlistValue::boolean(true));
    platform.center.post("updateDefaults_saveLogFile", PlistValue::boolean(false));
    // Bad objects are ignored rather than misread.
    platform.center.post("updateDefaults_saveLogFile", PlistValue::string("YES"));
    auto stored = platform.reopenDefaults();
    EXPECT_TRUE(stored->boolForKey("useAutoDownloadSystem"));
    EXPECT_TRUE(stored->boolForKey("saveDebugLog"));
    EXPECT_FALSE(stored->boolForKey("saveLogFile"));
    quit();
}

TEST_F(AppDelegateTest, NewListsAreStoredAndBadOnesIgnored) {
    launch();
    const auto list = PlistValue::array({anime("Bar")});
    platform.center.post("updateDefaults_dlst", list);
    platform.center.post("updateDefaults_dlst", PlistValue::string("not a list"));
    EXPECT_EQ(platform.reopenDefaults()->arrayForKey("autoDownloadList"), list);
    const auto episodes = PlistValue::dictionary({{"Bar", PlistValue::array()}});
    platform.center.post("updateDefaults_eplst", episodes);
    EXPECT_EQ(platform.reopenDefaults()->dictionaryForKey("downloadedEpisodeList"), episodes);
    quit();
}

// However its scheme is written: an upper-case one reaches libcurl all the same.
TEST_F(AppDelegateTest, HttpsManualRequestIsRefusedWithAnAlertAndSpendsAnId) {
    launch();
    platform.center.post("downloadRequest",
                         PlistValue::dictionary({{"URL", PlistValue::string("HTTPS://x/a")}}));
    ASSERT_EQ(platform.alerts.shown().size(), 1u);
    EXPECT_EQ(platform.alerts.shown()[0].messageText, "Kestrova エラー");
    EXPECT_EQ(platform.alerts.shown()[0].informativeText, "https 通信には対応しておりません。");
    EXPECT_EQ(platform.alerts.shown()[0].buttons, (std::vector<std::string>{"OK"}));
    EXPECT_TRUE(platform.log.linesStartingWith("FileDownload -> Init").empty());

    // An automatic https request is dropped without a word: no operation is made (one would
    // log that the request has no valid "time").
    platform.center.post("downloadRequest",
                         PlistValue::dictionary({{"URL", PlistValue::string("https://x/b")},
                                                 {"title", PlistValue::string("Foo")},
                                                 {"file", PlistValue::string("Foo (01)")}}));
    EXPECT_EQ(platform.alerts.shown().size(), 1u);
    EXPECT_TRUE(platform.log.linesStartingWith("AutoDownloadSystem -> Detect Error").empty());

    // The next manual download gets id 3: ids 1 and 2 were spent on the refused requests.
    // Nothing listens on port 9, so it fails before its destination exists.
    std::mutex mutex;
    std::vector<PlistValue> reports;
    platform.center.addObserver(&reports, "downloadStatus", [&](const PlistValue& r) {
        std::lock_guard lock(mutex);
        reports.push_back(r);
    });
    platform.center.post(
        "downloadRequest",
        PlistValue::dictionary({{"URL", PlistValue::string("http://127.0.0.1:9/f")}}));
    ASSERT_TRUE(test::waitUntil([&] {
        std::lock_guard lock(mutex);
        return !reports.empty();
    }));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(reports[0].stringFor("id"), "3");
        EXPECT_EQ(reports[0].stringFor("status"), "error");
        EXPECT_EQ(reports[0].stringFor("name"), "ファイル名を取得できませんでした");
    }
    EXPECT_TRUE(platform.log.contains("FileDownload -> Init: http://127.0.0.1:9/f"));
    ASSERT_TRUE(test::waitUntil([&] { return !platform.banners().empty(); }));
    EXPECT_EQ(platform.banners()[0].first, "ダウンロード エラー");
    platform.center.removeObserver(&reports);
    quit();
}

// An automatic request takes the entries of the first record with its title: here the second
// record's valid "time", so no threshold error is logged; the first record's invalid one
// would log it.
TEST_F(AppDelegateTest, AutomaticRequestIsCompletedFromTheRecordWithItsTitle) {
    storeList(PlistValue::array({anime("Other", {{"time", PlistValue::integer(0)}}),
                                 anime("Foo", {{"time", PlistValue::integer(24)}})}),
              PlistValue::dictionary());
    launch();
    platform.center.post(
        "downloadRequest",
        PlistValue::dictionary({{"URL", PlistValue::string("http://127.0.0.1:9/v")},
                                {"title", PlistValue::string("Foo")},
                                {"file", PlistValue::string("Foo (01)")}}));
    platform.center.post(
        "downloadRequest",
        PlistValue::dictionary({{"URL", PlistValue::string("http://127.0.0.1:9/w")},
                                {"title", PlistValue::string("Unknown")},
                                {"file", PlistValue::string("Unknown (01)")}}));
    ASSERT_TRUE(test::waitUntil([&] {
        return platform.log.linesStartingWith("AutoDownloadSystem -> Download Failed").size() == 2;
    }));
    // Only the request without a record falls back to the default threshold.
    EXPECT_EQ(platform.log.linesStartingWith("AutoDownloadSystem -> Detect Error").size(), 1u);
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
        EXPECT_TRUE((alert.shape == Alert::Shape::DefaultAlternateOther));
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
                      QuitCase{"OnlySetup", {"setup"}, -2, false, 1},
                      QuitCase{"FinishedOnly", {"complete", "error"}, -2, false, 1},
                      QuitCase{"DownloadingCancel", {"complete", "downloading"}, 0, true, 0},
                      QuitCase{"DownloadingQuit", {"downloading"}, 1, true, 1}),
    test::ParamName());

TEST_F(AppDelegateTest, QuitWritesTheLastLineThenDeletesTheLogUnlessKept) {
    launch();
    platform.center.post("updateDefaults_saveLogFile", PlistValue::boolean(false));
    quit();
    EXPECT_EQ(platform.log.lines().back(), "Application Terminate.");
    EXPECT_FALSE(Files::exists(logPath()));
}

TEST_F(AppDelegateTest, QuitKeepsTheLogWhenSwitchedBackOn) {
    launch();
    platform.center.post("updateDefaults_saveLogFile", PlistValue::boolean(false));
    platform.center.post("updateDefaults_saveLogFile", PlistValue::boolean(true));
    quit();
    std::ifstream in(logPath());
    std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(content.find("] Application Terminate.\n"), std::string::npos);
}

TEST_F(AppDelegateTest, SecondLaunchSeparatesRunsWithThreeLineFeeds) {
    launch();
    quit();
    launch();
    quit();
    std::ifstream in(logPath());
    std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(content.find("Application Terminate.\n\n\n\n"), std::string::npos);
}

}  // namespace
}  // namespace kestrova
