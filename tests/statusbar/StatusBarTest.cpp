// The status item and its menu, read back the way a desktop panel reads them: the fixed layout,
// the settings switches, the download items, the clipboard command, the auto-download submenu,
// open at login and the update check.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "download/NotificationRecorder.h"
#include "messages/Notifications.h"
#include "statusbar/AdminSystemStatusBar.h"
#include "statusbar/ObservePasteBoard.h"
#include "statusbar/ReleasePage.h"
#include "support/LoopbackServer.h"
#include "support/ParamName.h"
#include "support/TestPlatform.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using Posts = std::vector<PlistValue>;
const PlistValue kTrue = PlistValue::boolean(true), kFalse = PlistValue::boolean(false);
const std::string kDelete = "ダウンロードが完了した項目を削除";

// One line per item: its title ("---" for a separator), then " #tag" when tagged, " ✓" when
// checked, " ⌘key" with a key equivalent and " (disabled)" when it cannot be chosen.
Lines describe(const Menu& menu) {
    Lines lines;
    for (const auto& item : menu.items()) {
        std::string text = item->isSeparator() ? "---" : item->title();
        if (item->tag() != 0) text += " #" + std::to_string(item->tag());
        if (item->state() == MenuItem::kOn) text += " ✓";
        if (!item->keyEquivalent().empty()) text += " ⌘" + item->keyEquivalent();
        lines.push_back(item->isEnabled() ? text : text + " (disabled)");
    }
    return lines;
}

// A status bar of version 1.2.3 on a test platform in a temporary home.
struct Harness {
    explicit Harness(const std::string& serverURL = "http://127.0.0.1:9",
                     const std::string& programPath = "/opt/kestrova/bin/kestrova")
        : platform({.serverURL = serverURL,
                    .useBuiltInResources = false,
                    .version = "1.2.3",
                    .programPath = programPath}) {}
    // A launch's status bar; changes counts the model's changes from then on.
    void setUp(bool saveLogFile = true) {
        bar = std::make_unique<AdminSystemStatusBar>(platform.services, false);
        bar->setupSystemStatusBarWithSaveLogFile(saveLogFile);
        platform.statusBar.items().back()->changeSignal()->listener = [this] { ++changes; };
    }
    std::shared_ptr<Menu> menu() const { return platform.statusBar.items().back()->menu(); }
    // The submenu of the main menu's item at index: 3 automatic downloads, 4 settings.
    std::shared_ptr<Menu> submenu(std::size_t index) const {
        return menu()->itemAtIndex(index)->submenu();
    }
    // Each alert shown, as "<message>: <informative> [<buttons separated by |>]".
    Lines alerts() const {
        Lines lines;
        for (const Alert& alert : platform.alerts.shown()) {
            std::string line = alert.messageText + ": " + alert.informativeText + " [";
            for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
                line += (i == 0 ? "" : "|") + alert.buttons[i];
            }
            lines.push_back(line + "]");
        }
        return lines;
    }

    test::TestPlatform platform;
    std::unique_ptr<AdminSystemStatusBar> bar;
    int changes = 0;
};

// The main menu with these download items, newest first; "…" is U+2026, one character.
Lines mainMenu(const Lines& downloads = {}, bool deleteEnabled = false) {
    Lines lines{"ペーストボードからダウンロード (disabled)"};
    if (!downloads.empty()) lines.push_back("--- (disabled)");
    lines.insert(lines.end(), downloads.begin(), downloads.end());
    lines.insert(lines.end(), {"--- (disabled)", kDelete + (deleteEnabled ? "" : " (disabled)"),
                               "自動ダウンロードシステム", "設定\u2026 ⌘,", "Kestrovaを終了 ⌘q"});
    return lines;
}

// Check marks from the settings, each switch posting the new value and flipping its mark; the
// debug flag gates the bar's one log line. Once the bar is gone, nothing in the menus calls it.
TEST(StatusBarTest, BuildsTheFixedMenuWhoseSwitchesPostAndLeavesNoLiveCommandBehind) {
    Harness h;
    h.setUp(true);
    ASSERT_EQ(h.platform.statusBar.items().size(), 1u);
    const auto item = h.platform.statusBar.items()[0];
    EXPECT_TRUE(item->title() == "\u2B07" && item->highlightMode());
    const auto menu = h.menu();
    EXPECT_EQ(describe(*menu), mainMenu());
    EXPECT_EQ(describe(*h.submenu(3)), Lines());
    EXPECT_EQ(describe(*h.submenu(4)),
              (Lines{"ログイン時に開く", "ログを保存する ✓", "デバッグログを出力する",
                     "アップデートを確認\u2026"}));
    h.bar->updateAutoDownloadSystemMenu(false, std::nullopt, std::nullopt);
    EXPECT_EQ(h.platform.log.linesStartingWith("AdminSystemStatusBar -> Update"), Lines());
    const std::tuple<std::size_t, std::size_t, const char*, bool> switches[] = {
        {4, 1, notification::kUpdateSaveLogFile, true},
        {4, 2, notification::kUpdateSaveDebugLog, false},
        {3, 0, notification::kUpdateUseAutoDownloadSystem, false}};
    for (const auto& [submenu, index, name, on] : switches) {
        test::NotificationRecorder posts(h.platform.center, name);
        const auto choice = h.submenu(submenu)->itemAtIndex(index);
        ASSERT_TRUE(choice->perform() && choice->perform());
        EXPECT_EQ(choice->state(), on ? MenuItem::kOn : MenuItem::kOff) << name;
        EXPECT_TRUE(posts.objects() == (Posts{PlistValue::boolean(!on), PlistValue::boolean(on)}))
            << name;
    }
    EXPECT_EQ(h.alerts(),
              Lines(2, "Kestrova: この設定は Kestrova の再起動後に有効になります。 [OK]"));

    const auto saveLog = h.submenu(4)->itemAtIndex(1);
    h.bar.reset();
    EXPECT_EQ(item->menu(), nullptr);
    EXPECT_FALSE(saveLog->perform());
    h.platform.center.post(notification::kCheckPasteBoard, PlistValue::string("YES"));
    EXPECT_FALSE(menu->itemAtIndex(0)->isEnabled());
    // The quit command is the application's, not the bar's: it still quits.
    ASSERT_TRUE(menu->itemAtIndex(5)->perform());
    EXPECT_EQ(h.platform.runLoop.run(), 0);
}

// A download status table written "id name percentage status, ...".
std::vector<PlistValue> table(const std::string& text) {
    std::vector<PlistValue> records;
    std::istringstream in(text);
    for (std::string id, name, percentage, status; in >> id >> name >> percentage >> status;) {
        if (status.ends_with(',')) status.pop_back();
        records.push_back(PlistValue::dictionary({{"id", PlistValue::string(id)},
                                                  {"name", PlistValue::string(name)},
                                                  {"percentage", PlistValue::string(percentage)},
                                                  {"status", PlistValue::string(status)}}));
    }
    return records;
}

struct Progress {
    const char* name;
    std::vector<std::string> tables;  // one per pass
    bool deleteEnabled;
    Lines downloads;  // newest first; "　" is U+3000, the ideographic space
};
class DownloadProgressTest : public ::testing::TestWithParam<Progress> {};

// The same table again changes nothing, nor does the delete command: it only asks for the
// deletion.
TEST_P(DownloadProgressTest, MenuFollowsTheTableAndOnlyItsChanges) {
    const auto& [name, tables, deleteEnabled, downloads] = GetParam();
    Harness h;
    h.setUp();
    test::NotificationRecorder deletes(h.platform.center, notification::kDeleteCompletedItem);
    for (const std::string& pass : tables) h.bar->setDownloadStatus(table(pass));
    EXPECT_EQ(describe(*h.menu()), mainMenu(downloads, deleteEnabled));
    EXPECT_EQ(h.changes > 0, tables.size() > 1 || !downloads.empty());
    h.changes = 0;
    h.bar->setDownloadStatus(table(tables.back()));
    if (deleteEnabled) {
        ASSERT_TRUE(h.menu()->itemWithTitle(kDelete)->perform());
    }
    EXPECT_EQ(h.changes, 0);
    EXPECT_EQ(deletes.objects().size(), deleteEnabled ? 1u : 0u);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Passes, DownloadProgressTest, ::testing::Values(
    Progress{"FirstRecord", {"1 a 0% setup"}, false, {"a　(0%) #1 (disabled)"}},
    Progress{"NewestOnTopInIdOrder", {"1 a 0% setup", "1 a 3% downloading, 3 c 0% setup, 4 d 0% setup"},
             false, {"d　(0%) #4 (disabled)", "c　(0%) #3 (disabled)", "a　(3%) #1 (disabled)"}},
    Progress{"CompleteEnablesDelete", {"1 a 9% downloading", "1 a 完了 complete"}, true,
             {"a #1 ✓ (disabled)"}},
    // Item 3, above the table's last id, is not visited: it stays until the table is empty.
    Progress{"GoneRowsUpToTheLastId", {"1 a 完了 complete, 2 b 5% downloading, 3 c 完了 complete",
             "2 b 5% downloading"}, true, {"c #3 ✓ (disabled)", "b　(5%) #2 (disabled)"}},
    Progress{"EmptyTable", {"1 a 完了 complete", ""}, false, {}},
    Progress{"RepeatedIdShowsTheFirstRecord", {"1 a 30% downloading, 1 a 0% setup"}, false,
             {"a　(30%) #1 (disabled)"}},
    Progress{"UnreadableIdIsNotShown", {"x a 0% setup"}, false, {}}), test::ParamName());
// clang-format on

// A launch's status bar and clipboard watcher, with their posts recorded.
class PasteboardCommand : public ::testing::Test {
protected:
    void SetUp() override { h.setUp(); }
    void copy(std::optional<std::string> text) { h.platform.pasteboard.setString(std::move(text)); }
    std::shared_ptr<MenuItem> command() const { return h.menu()->itemAtIndex(0); }

    Harness h;
    ObservePasteBoard watcher{h.platform.services};
    test::NotificationRecorder answers{h.platform.center, notification::kCheckPasteBoard};
    test::NotificationRecorder requests{h.platform.center, notification::kDownloadRequest};
};

// Once at launch, then after each growth of the change count, the same answer again included;
// a count that went down is the new base. The poll runs on the main loop's timer.
TEST_F(PasteboardCommand, AnswersAtLaunchAndAfterEveryCopy) {
    copy("http://example.com/a.mp4");
    watcher.beginObservingPasteboard();
    EXPECT_TRUE(command()->isEnabled());
    watcher.observePasteboard();
    copy("http://example.com/a.mp4");
    watcher.observePasteboard();
    h.platform.pasteboard.setChangeCount(0);
    watcher.observePasteboard();
    copy("plain words");  // count 1: above the new base, below the earlier count
    RunLoop& loop = h.platform.runLoop;
    h.platform.center.addObserver(this, notification::kCheckPasteBoard,
                                  [&loop](const PlistValue&) { loop.quit(0); });
    // A guard only: the test fails rather than hang if the timer never polls.
    loop.addTimer(std::chrono::seconds(30), RunLoopMode::Common, [&loop] { loop.quit(1); });
    EXPECT_EQ(loop.run(), 0);
    h.platform.center.removeObserver(this);
    EXPECT_EQ(answers.strings(), (Lines{"YES", "YES", "NO"}));
    EXPECT_FALSE(command()->isEnabled());
}

struct Text {
    const char* name;
    std::optional<std::string> text;
    bool downloadable;
};
class PasteboardTextTest : public PasteboardCommand, public ::testing::WithParamInterface<Text> {};

// Enabled by an earlier copy, the command reads the clipboard again when chosen; the next poll
// answers for the same text.
TEST_P(PasteboardTextTest, ChoiceAndAnswerFollowTheTextNow) {
    const auto& [name, text, downloadable] = GetParam();
    copy("http://example.com/earlier.mp4");
    watcher.beginObservingPasteboard();
    copy(text);
    ASSERT_TRUE(command()->perform());
    EXPECT_EQ(requests.strings("URL"), downloadable ? Lines{*text} : Lines());
    EXPECT_EQ(h.alerts(), downloadable ? Lines()
                                       : Lines{"Kestrova: ペーストボードにダウンロード"
                                               "可能なURLが見つかりません。 [OK||]"});
    watcher.observePasteboard();
    EXPECT_EQ(answers.strings(), (Lines{"YES", downloadable ? "YES" : "NO"}));
    EXPECT_EQ(command()->target(), downloadable ? h.bar.get() : nullptr);
    EXPECT_EQ(command()->actionName(), downloadable ? "menuFunctionDownload" : "");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Texts, PasteboardTextTest, ::testing::Values(
    Text{"Http", "http://example.com/a.mp4", true}, Text{"Https", "https://example.com/a.mp4", true},
    Text{"AsLongAsAnyAddress", "http://a/" + std::string(65527, 'x'), true},
    Text{"LongerThanAnyAddress", "http://a/" + std::string(65528, 'x'), false},
    Text{"TwoLines", "http://a/1\nhttp://a/2", false}, Text{"PlainWords", "ダウンロード", false},
    Text{"NoText", {}, false}), test::ParamName());
// clang-format on

PlistValue anime(const std::string& title, PlistValue status, PlistValue lock = kFalse) {
    return PlistValue::dictionary({{"title", PlistValue::string(title)},
                                   {"keyword", PlistValue::array({PlistValue::string(title)})},
                                   {"status", status},
                                   {"lock", lock}});
}
PlistValue list(const std::vector<PlistValue>& records) { return PlistValue::array(records); }

// The auto-download submenu as the application keeps it: every posted list comes back as a
// rebuild, inside the choosing item's own action.
class AutoDownloadMenu : public ::testing::Test {
protected:
    void SetUp() override {
        h.setUp();
        h.platform.center.addObserver(this, notification::kUpdateDlst,
                                      [this](const PlistValue& l) { show(false, l); });
    }
    void TearDown() override { h.platform.center.removeObserver(this); }
    void show(bool use, std::optional<PlistValue> shown) {
        h.bar->updateAutoDownloadSystemMenu(use, std::move(shown), std::nullopt);
    }

    Harness h;
    test::NotificationRecorder lists{h.platform.center, notification::kUpdateDlst};
};

// Only the boolean true is checked; records without a text title are logged and left out. An
// item of an older menu, whose title is gone, posts the list unchanged.
TEST_F(AutoDownloadMenu, ShowsTheSystemSwitchAndATitleForEachRecord) {
    show(true, list({anime("On", kTrue), anime("Off", kFalse), anime("1", PlistValue::integer(1)),
                     PlistValue::dictionary({{"status", kTrue}}), PlistValue::string("x")}));
    EXPECT_EQ(describe(*h.submenu(3)), (Lines{"自動ダウンロードシステムを使用する ✓",
                                              "--- (disabled)", "On ✓", "Off", "1"}));
    EXPECT_EQ(h.platform.log.linesStartingWith("AdminSystemStatusBar -> Skipped").size(), 2u);
    MenuItem gone("Gone");
    h.bar->switchAnimeAutoDownload(gone);
    EXPECT_EQ(lists.objects().size(), 1u);
    for (const auto& absent :
         {std::optional<PlistValue>(), std::optional(PlistValue::string("x"))}) {
        show(false, absent);
        EXPECT_EQ(describe(*h.submenu(3)),
                  (Lines{"自動ダウンロードシステムを使用する", "--- (disabled)",
                         "ダウンロードリストの取得に失敗しました。 (disabled)"}));
    }
}

// Choosing a title posts the list with only its status switched, and the menu is rebuilt from
// it inside the item's own action; a locked title, on or off, is refused with an alert.
TEST_F(AutoDownloadMenu, ChoosingSwitchesATitleUnlessItIsLocked) {
    const PlistValue one = PlistValue::integer(1);  // a lock that is no boolean locks nothing
    const PlistValue l = anime("L", kTrue, kTrue), m = anime("M", kFalse, kTrue);
    show(false, list({anime("A", kTrue), anime("B", kFalse, one), l, m}));
    for (const std::size_t index : {2, 3, 4, 5}) {
        ASSERT_TRUE(h.submenu(3)->itemAtIndex(index)->perform());
    }
    EXPECT_TRUE(lists.objects() ==
                (Posts{list({anime("A", kFalse), anime("B", kFalse, one), l, m}),
                       list({anime("A", kFalse), anime("B", kTrue, one), l, m})}));
    EXPECT_EQ(describe(*h.submenu(3)), (Lines{"自動ダウンロードシステムを使用する",
                                              "--- (disabled)", "A", "B ✓", "L ✓", "M"}));
    EXPECT_EQ(h.alerts(), Lines(2,
                                "Kestrova エラー: このアニメのダウンロードを無効化することは"
                                "できません。 [OK]"));
}

// Open at login, with other programs' entries in the autostart folder, one of them starting a
// program whose path is a prefix of this one's. Every entry starting a program inside this one's
// path counts, and each choice removes one; the mark goes off with the last. What an entry
// holds is the autostart folder's business.
TEST(StatusBarTest, OpenAtLoginAddsOrRemovesOneEntryOfThisProgram) {
    Harness h{"http://127.0.0.1:9", "/opt/Kestrova App/kestrova"};
    const fs::path dir = h.platform.files.configDirectory() / "autostart";
    const auto write = [&](const std::string& name, const std::string& exec) {
        std::ofstream(dir / name) << "[Desktop Entry]\nType=Application\nName=X\nExec=" + exec +
                                         "\n";
    };
    const auto entries = [&] {
        Lines names;
        for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    };
    const auto checked = [&] { return h.submenu(4)->itemAtIndex(0)->state() == MenuItem::kOn; };
    const auto choose = [&] { return h.submenu(4)->itemAtIndex(0)->perform() && checked(); };
    fs::create_directories(dir);
    write("aaa.desktop", "/usr/bin/editor --daemon");
    write("zzz.desktop", "\"/opt/Kestrova App/kestrov\"");
    h.setUp();
    EXPECT_FALSE(checked());
    EXPECT_TRUE(choose());
    const Lines added{"aaa.desktop", "kestrova.desktop", "zzz.desktop"};
    EXPECT_EQ(entries(), added);
    write("a.desktop", "\"/opt/Kestrova App/kestrova-helper\" --tray");
    h.setUp();  // the next launch sees them
    EXPECT_TRUE(checked());
    EXPECT_TRUE(choose());  // a.desktop goes first
    EXPECT_EQ(entries(), added);
    EXPECT_FALSE(choose());
    EXPECT_EQ(entries(), (Lines{"aaa.desktop", "zzz.desktop"}));
}

TEST(ReleasePageTest, ReadsTheFirstVersionLine) {
    const std::string line = "<li>バージョン：1.2.3</li>\n";
    const std::pair<std::string, std::optional<std::string>> pages[] = {
        // clang-format off
        {"<li>バージョン：2.0 <span style=\"color: red;\">beta</span></li>", "2.0"},
        {"\t<li>バージョン：\t1.2.3\t</li>\t\n", "1.2.3"}, {"<ul>\r\n<li>バージョン：1.2.3</li>\r\n</ul>\r\n", "1.2.3"},
        {"<li>準備中</li>\n" + line + "<li>バージョン：9.9</li>\n", "1.2.3"}, {"<li>バージョン：</li>\n" + line, {}},
        // clang-format on
    };
    for (const auto& [page, version] : pages)
        EXPECT_EQ(ReleasePage::version(page), version) << page;
}

// Chosen from the settings menu, against the release page on loopback: a different version is
// offered, and its page opened only on "はい".
TEST(StatusBarTest, UpdateCheckAlertsAndOpensTheReleasePageOnlyOnYes) {
    test::LoopbackServer server;
    Harness h(server.baseURL());
    h.setUp();
    const std::tuple<std::string, int, int> checks[] = {{"2.0", 200, Alert::kDefaultReturn},
                                                        {"1.0", 200, Alert::kAlternateReturn},
                                                        {"1.2.3", 200, Alert::kDefaultReturn},
                                                        {"", 200, Alert::kDefaultReturn},
                                                        {"2.0", 404, Alert::kDefaultReturn}};
    for (const auto& [version, status, answer] : checks) {
        server.reply("/file/Kestrova/",
                     {.status = status, .body = "<li>バージョン：" + version + "</li>"});
        h.platform.alerts.answerNext(answer);
        ASSERT_TRUE(h.submenu(4)->itemAtIndex(3)->perform());
    }
    const std::string offer =
        ") が見つかりました。\nダウンロードページを開きますか？ [はい|いいえ|]";
    const std::string failed = "Kestrova: アップデートの確認に失敗しました。 [OK||]";
    EXPECT_EQ(h.alerts(),
              (Lines{"Kestrova: 最新のバージョンの Kestrova (v2.0" + offer,
                     "Kestrova: 最新のバージョンの Kestrova (v1.0" + offer,
                     "Kestrova: このバージョンの Kestrova (v1.2.3) は最新バージョンです。 [OK||]",
                     failed, failed}));
    EXPECT_EQ(h.platform.log.linesStartingWith("Workspace -> Open: "),
              Lines{"Workspace -> Open: " + server.url("/file/Kestrova/")});
}

}  // namespace
}  // namespace kestrova
