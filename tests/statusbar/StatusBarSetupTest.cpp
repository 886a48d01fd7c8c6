#include <gtest/gtest.h>

#include "messages/Notifications.h"
#include "statusbar/PostRecorder.h"
#include "statusbar/StatusBarHarness.h"
#include "support/ParamName.h"

namespace kestrova {
namespace {

using test::describe;

// "…" is the single character U+2026, not three full stops.
const std::vector<std::string> kFixedItems = {
    "ペーストボードからダウンロード (disabled)",
    "--- (disabled)",
    "ダウンロードが完了した項目を削除 (disabled)",
    "自動ダウンロードシステム",
    "設定\u2026 ⌘,",
    "Kestrovaを終了 ⌘q",
};

TEST(StatusBarSetup, BuildsTheStatusItemAndTheSixFixedItems) {
    test::StatusBarHarness h;
    h.setUp();
    const auto& item = h.statusItem();
    ASSERT_TRUE(item);
    ASSERT_EQ(h.platform.statusBar.items().size(), 1u);
    EXPECT_EQ(h.platform.statusBar.items().front(), item);
    EXPECT_EQ(item->title(), "\xE2\xAC\x87");  // U+2B07
    EXPECT_TRUE(item->highlightMode());
    EXPECT_EQ(item->menu(), h.mainMenu());

    const Menu& menu = *h.mainMenu();
    EXPECT_EQ(menu.title(), "SystemStatusBarMenu");
    EXPECT_EQ(describe(menu), kFixedItems);

    EXPECT_EQ(menu.itemAtIndex(3)->submenu(), h.autoDownloadMenu());
    EXPECT_EQ(h.autoDownloadMenu()->title(), "SubMenuAutoDownloadSystem");
    EXPECT_EQ(h.autoDownloadMenu()->numberOfItems(), 0u);

    const auto& quit = *menu.itemAtIndex(5);
    EXPECT_EQ(quit.target(), &h.platform.services.application);
    EXPECT_EQ(quit.actionName(), "terminate:");
    // Choosing it asks the application to quit, which ends the run loop.
    ASSERT_TRUE(menu.itemAtIndex(5)->perform());
    EXPECT_EQ(h.platform.runLoop.run(), 0);
}

struct SettingsCase {
    const char* name;
    bool saveLogFile;
    bool debug;
    std::vector<std::string> expected;
};

class SettingsMenuTest : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(SettingsMenuTest, ChecksFollowTheGivenSettings) {
    test::StatusBarHarness h;
    h.setUp(GetParam().saveLogFile, GetParam().debug);
    const auto& settings = h.mainMenu()->itemAtIndex(4)->submenu();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->title(), "SubMenuSettings");
    EXPECT_EQ(describe(*settings), GetParam().expected);
    // The debug flag it was made with gates its one log line.
    h.bar->updateAutoDownloadSystemMenu(false, std::nullopt, std::nullopt);
    EXPECT_EQ(h.platform.log.contains("AdminSystemStatusBar -> Update AutoDownloadMenu."),
              GetParam().debug);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SettingsMenuTest,
    ::testing::Values(SettingsCase{"SaveLogOnDebugOff",
                                   true,
                                   false,
                                   {"ログイン時に開く", "ログを保存する ✓",
                                    "デバッグログを出力する", "アップデートを確認\u2026"}},
                      SettingsCase{"SaveLogOffDebugOn",
                                   false,
                                   true,
                                   {"ログイン時に開く", "ログを保存する",
                                    "デバッグログを出力する ✓", "アップデートを確認\u2026"}}),
    test::ParamName());

struct SwitchCase {
    const char* name;
    int index;  // in the settings submenu
    const char* notification;
    bool restartAlert;
};

class SettingsSwitchTest : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(SettingsSwitchTest, PostsTheNewValueAndFlipsTheCheckMark) {
    test::StatusBarHarness h;
    h.setUp(false, false);
    test::PostRecorder posts(h.platform.center, {GetParam().notification});
    const auto item = h.mainMenu()->itemAtIndex(4)->submenu()->itemAtIndex(
        static_cast<std::size_t>(GetParam().index));

    ASSERT_TRUE(item->perform());
    EXPECT_EQ(item->state(), MenuItem::kOn);
    ASSERT_TRUE(item->perform());
    EXPECT_EQ(item->state(), MenuItem::kOff);
    EXPECT_EQ(posts.objectsOf(GetParam().notification),
              (std::vector<PlistValue>{PlistValue::boolean(true), PlistValue::boolean(false)}));

    const auto shown = h.platform.alerts.shown();
    ASSERT_EQ(shown.size(), GetParam().restartAlert ? 2u : 0u);
    for (const auto& alert : shown) {
        EXPECT_FALSE((alert.shape == Alert::Shape::DefaultAlternateOther));
        EXPECT_EQ(alert.messageText, "Kestrova");
        EXPECT_EQ(alert.informativeText, "この設定は Kestrova の再起動後に有効になります。");
        EXPECT_EQ(alert.buttons, std::vector<std::string>{"OK"});
        EXPECT_EQ(alert.style, Alert::Style::Warning);
    }
    // The object's own debug flag follows the setting only after a restart.
    h.bar->updateAutoDownloadSystemMenu(false, std::nullopt, std::nullopt);
    EXPECT_FALSE(h.platform.log.contains("AdminSystemStatusBar -> Update AutoDownloadMenu."));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SettingsSwitchTest,
    ::testing::Values(SwitchCase{"SaveLogFile", 1, notification::kUpdateSaveLogFile, false},
                      SwitchCase{"SaveDebugLog", 2, notification::kUpdateSaveDebugLog, true}),
    test::ParamName());

TEST(StatusBarSetup, DeleteCommandPostsAndChangesNoItem) {
    test::StatusBarHarness h;
    h.setUp();
    h.bar->setDownloadStatus(
        {PlistValue::dictionary({{"id", PlistValue::string("1")},
                                 {"name", PlistValue::string("a.mp4")},
                                 {"percentage", PlistValue::string("完了")},
                                 {"status", PlistValue::string("complete")}})});
    test::PostRecorder posts(h.platform.center, {notification::kDeleteCompletedItem});
    const auto before = describe(*h.mainMenu());
    h.changes = 0;
    ASSERT_TRUE(h.mainMenu()->itemWithTitle("ダウンロードが完了した項目を削除")->perform());
    ASSERT_EQ(posts.posts().size(), 1u);
    EXPECT_TRUE(posts.posts()[0].second.isNone());
    EXPECT_EQ(describe(*h.mainMenu()), before);
    EXPECT_EQ(h.changes, 0);
}

TEST(StatusBarSetup, GoingAwayLeavesNoCommandThatCallsIt) {
    test::StatusBarHarness h;
    h.setUp();
    const auto item = h.statusItem();
    const auto menu = h.mainMenu();
    const auto saveLog = menu->itemAtIndex(4)->submenu()->itemAtIndex(1);
    h.bar.reset();
    EXPECT_FALSE(item->menu());
    EXPECT_FALSE(saveLog->perform());
    // Nothing observes the pasteboard answer any more.
    h.platform.center.post(notification::kCheckPasteBoard, PlistValue::string("YES"));
    EXPECT_FALSE(menu->itemAtIndex(0)->isEnabled());
}

}  // namespace
}  // namespace kestrova
