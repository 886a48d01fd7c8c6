#include <gtest/gtest.h>

#include "messages/Notifications.h"
#include "statusbar/PostRecorder.h"
#include "statusbar/StatusBarHarness.h"
#include "support/ParamName.h"

namespace kestrova {
namespace {

using test::describe;

PlistValue anime(const std::string& title, std::optional<PlistValue> status,
                 std::optional<PlistValue> lock = std::nullopt) {
    PlistValue::Dictionary record{{"title", PlistValue::string(title)},
                                  {"keyword", PlistValue::string(title)},
                                  {"time", PlistValue::integer(100)}};
    if (status) record.emplace("status", *status);
    if (lock) record.emplace("lock", *lock);
    return PlistValue::dictionary(std::move(record));
}

const PlistValue kTrue = PlistValue::boolean(true);
const PlistValue kFalse = PlistValue::boolean(false);

// A status bar whose list changes come back as rebuilds, the way the application delegate
// stores a posted list and hands it back.
class AutoDownloadMenu : public ::testing::Test {
protected:
    void SetUp() override {
        h.setUp();
        h.platform.center.addObserver(
            this, notification::kUpdateDlst, [this](const PlistValue& list) {
                h.bar->updateAutoDownloadSystemMenu(useSystem, list, std::nullopt);
            });
    }
    void TearDown() override { h.platform.center.removeObserver(this); }

    void show(std::optional<PlistValue> list) {
        h.bar->updateAutoDownloadSystemMenu(useSystem, std::move(list), std::nullopt);
    }
    const Menu& menu() const { return *h.autoDownloadMenu(); }
    std::shared_ptr<MenuItem> item(std::size_t index) const { return menu().itemAtIndex(index); }

    test::StatusBarHarness h;
    test::PostRecorder posts{
        h.platform.center, {notification::kUpdateDlst, notification::kUpdateUseAutoDownloadSystem}};
    bool useSystem = false;
};

TEST_F(AutoDownloadMenu, ChecksOnlyTheBooleanTrue) {
    useSystem = true;
    show(
        PlistValue::array({anime("On", kTrue), anime("Off", kFalse), anime("Missing", std::nullopt),
                           anime("Number", PlistValue::integer(1))}));
    EXPECT_EQ(describe(menu()),
              (std::vector<std::string>{"自動ダウンロードシステムを使用する ✓", "--- (disabled)",
                                        "On ✓", "Off", "Missing", "Number"}));
    EXPECT_EQ(item(2)->actionName(), "switchAnimeAutoDownload:");
    EXPECT_EQ(item(0)->actionName(), "enableAutoDownloadSystem:");
}

TEST_F(AutoDownloadMenu, AbsentListShowsTheFailureItem) {
    show(PlistValue::array({anime("A", kTrue), anime("B", kFalse)}));
    show(std::nullopt);
    EXPECT_EQ(describe(menu()),
              (std::vector<std::string>{"自動ダウンロードシステムを使用する", "--- (disabled)",
                                        "ダウンロードリストの取得に失敗しました。 (disabled)"}));
    // Something that is not a list is shown the same way.
    show(PlistValue::string("not a list"));
    EXPECT_EQ(menu().numberOfItems(), 3u);
    show(PlistValue::array());
    EXPECT_EQ(menu().numberOfItems(), 2u);
}

TEST_F(AutoDownloadMenu, SwitchingATitlePostsTheListWithOnlyItsStatusChanged) {
    const PlistValue list = PlistValue::array({anime("A", kTrue), anime("B", kTrue)});
    show(list);
    ASSERT_TRUE(item(2)->perform());

    PlistValue expected = list;
    (*expected.asArray())[0].asDictionary()->insert_or_assign("status", kFalse);
    EXPECT_EQ(posts.objectsOf(notification::kUpdateDlst), std::vector<PlistValue>{expected});
    // Rebuilt from the posted list.
    EXPECT_EQ(describe(menu()), (std::vector<std::string>{"自動ダウンロードシステムを使用する",
                                                          "--- (disabled)", "A", "B ✓"}));
    ASSERT_TRUE(item(2)->perform());
    EXPECT_EQ(posts.objectsOf(notification::kUpdateDlst).back(), list);
    EXPECT_EQ(item(2)->state(), MenuItem::kOn);
}

class LockedTitleTest : public AutoDownloadMenu, public ::testing::WithParamInterface<bool> {};

TEST_P(LockedTitleTest, RefusesWithAnAlertAndPostsNothing) {
    show(PlistValue::array({anime("Locked", PlistValue::boolean(GetParam()), kTrue)}));
    const int stateBefore = item(2)->state();
    ASSERT_TRUE(item(2)->perform());
    EXPECT_TRUE(posts.posts().empty());
    EXPECT_EQ(item(2)->state(), stateBefore);
    const auto shown = h.platform.alerts.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_FALSE((shown[0].shape == Alert::Shape::DefaultAlternateOther));
    EXPECT_EQ(shown[0].messageText, "Kestrova エラー");
    EXPECT_EQ(shown[0].informativeText, "このアニメのダウンロードを無効化することはできません。");
    EXPECT_EQ(shown[0].buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(shown[0].style, Alert::Style::Warning);
}

INSTANTIATE_TEST_SUITE_P(Statuses, LockedTitleTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& row) {
                             return row.param ? std::string("Checked") : std::string("Unchecked");
                         });

TEST_F(AutoDownloadMenu, LockStoredAsNumberDoesNotLock) {
    show(PlistValue::array({anime("A", kFalse, PlistValue::integer(1))}));
    ASSERT_TRUE(item(2)->perform());
    EXPECT_TRUE(h.platform.alerts.shown().empty());
    EXPECT_EQ(posts.objectsOf(notification::kUpdateDlst).size(), 1u);
    EXPECT_EQ(item(2)->state(), MenuItem::kOn);
}

TEST_F(AutoDownloadMenu, EitherOfTwoEqualTitlesSwitchesTheFirstRecord) {
    const PlistValue list = PlistValue::array({anime("Same", kFalse), anime("Same", kFalse)});
    show(list);
    h.platform.center.removeObserver(this);  // keep the items: no rebuild
    ASSERT_TRUE(item(3)->perform());
    PlistValue expected = list;
    (*expected.asArray())[0].asDictionary()->insert_or_assign("status", kTrue);
    EXPECT_EQ(posts.objectsOf(notification::kUpdateDlst), std::vector<PlistValue>{expected});
}

TEST_F(AutoDownloadMenu, TitleWithoutRecordPostsTheListUnchanged) {
    const PlistValue list = PlistValue::array({anime("A", kTrue)});
    show(list);
    MenuItem stale("Gone");
    h.bar->switchAnimeAutoDownload(stale);
    EXPECT_EQ(posts.objectsOf(notification::kUpdateDlst), std::vector<PlistValue>{list});
}

TEST_F(AutoDownloadMenu, WholeSystemSwitchPostsTrueThenFalseWithoutRebuild) {
    show(PlistValue::array({anime("A", kTrue)}));
    const auto use = item(0);
    ASSERT_TRUE(use->perform());
    EXPECT_EQ(use->state(), MenuItem::kOn);
    ASSERT_TRUE(use->perform());
    EXPECT_EQ(use->state(), MenuItem::kOff);
    EXPECT_EQ(posts.objectsOf(notification::kUpdateUseAutoDownloadSystem),
              (std::vector<PlistValue>{kTrue, kFalse}));
    EXPECT_EQ(item(0), use);
    EXPECT_TRUE(posts.objectsOf(notification::kUpdateDlst).empty());
}

TEST_F(AutoDownloadMenu, RecordWithoutTitleIsSkippedAndLogged) {
    show(PlistValue::array(
        {PlistValue::dictionary({{"status", kTrue}}), PlistValue::string("x"), anime("A", kTrue)}));
    EXPECT_EQ(describe(menu()), (std::vector<std::string>{"自動ダウンロードシステムを使用する",
                                                          "--- (disabled)", "A ✓"}));
    EXPECT_EQ(h.platform.log.linesStartingWith("AdminSystemStatusBar -> Skipped").size(), 2u);
}

}  // namespace
}  // namespace kestrova
