// The status item and its menus, read back the way a desktop panel reads them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "download/NotificationRecorder.h"
#include "download/TestFiles.h"
#include "messages/Notifications.h"
#include "statusbar/AdminSystemStatusBar.h"
#include "statusbar/ObservePasteBoard.h"
#include "statusbar/ReleasePage.h"
#include "support/LoopbackServer.h"
#include "support/TestPlatform.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using Posts = std::vector<PlistValue>;
const PlistValue kTrue = PlistValue::boolean(true), kFalse = PlistValue::boolean(false);
const std::string kDelete = "ダウンロードが完了した項目を削除";

// One line per item: title ("---" for a separator), " #tag", " ✓", " ⌘key", " (disabled)".
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

struct Harness {
    explicit Harness(const std::string& serverURL = "http://127.0.0.1:9")
        : platform({.serverURL = serverURL,
                    .useBuiltInResources = false,
                    .version = "1.2.3",
                    .programPath = "/opt/Kestrova App/kestrova"}) {
        launch();
    }
    void launch() {
        bar = std::make_unique<AdminSystemStatusBar>(platform.services, false);
        bar->setupSystemStatusBarWithSaveLogFile(true);
        platform.statusBar.items().back()->changeSignal()->listener = [this] { ++changes; };
    }
    std::shared_ptr<Menu> menu() const { return platform.statusBar.items().back()->menu(); }
    // 3: automatic downloads, 4: settings.
    std::shared_ptr<Menu> submenu(std::size_t i) const { return menu()->itemAtIndex(i)->submenu(); }
    // Each alert shown, as "<message>: <informative> [<buttons separated by |>]".
    Lines alerts() const {
        Lines lines;
        for (const Alert& alert : platform.alerts.shown()) {
            std::string line = alert.messageText + ": " + alert.informativeText + " [";
            for (const std::string& b : alert.buttons) line += (line.ends_with("[") ? "" : "|") + b;
            lines.push_back(line + "]");
        }
        return lines;
    }

    test::TestPlatform platform;
    std::unique_ptr<AdminSystemStatusBar> bar;
    int changes = 0;
};

Lines mainMenu(const Lines& downloads = {}, bool deleteEnabled = false) {
    Lines lines{"ペーストボードからダウンロード (disabled)"};
    if (!downloads.empty()) lines.push_back("--- (disabled)");
    lines.insert(lines.end(), downloads.begin(), downloads.end());
    lines.insert(lines.end(), {"--- (disabled)", kDelete + (deleteEnabled ? "" : " (disabled)"),
                               "自動ダウンロードシステム", "設定\u2026 ⌘,", "Kestrovaを終了 ⌘q"});
    return lines;
}

// Switches post the new value; once the bar is gone only quit (the application's) still acts.
TEST(StatusBarTest, BuildsTheFixedMenuWhoseSwitchesPostAndLeavesNoLiveCommandBehind) {
    Harness h;
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
        EXPECT_TRUE(choice->state() == (on ? MenuItem::kOn : MenuItem::kOff) &&
                    posts.objects() == (Posts{PlistValue::boolean(!on), PlistValue::boolean(on)}))
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
    ASSERT_TRUE(menu->itemAtIndex(5)->perform());
    EXPECT_EQ(h.platform.runLoop.run(), 0);
}

// Tables written "id name percentage status, ...". The same table again changes nothing, nor
// does the delete command: it only asks for the deletion.
TEST(StatusBarTest, DownloadItemsFollowTheTableAndOnlyItsChanges) {
    const auto table = [](const std::string& text) {
        std::vector<PlistValue> records;
        std::istringstream in(text);
        for (std::string id, name, pct, status; in >> id >> name >> pct >> status;) {
            if (status.ends_with(',')) status.pop_back();
            const auto s = PlistValue::string;
            records.push_back(PlistValue::dictionary(
                {{"id", s(id)}, {"name", s(name)}, {"percentage", s(pct)}, {"status", s(status)}}));
        }
        return records;
    };
    const std::tuple<const char*, Lines, bool, Lines> rows[] = {
        // clang-format off
        {"FirstRecord", {"1 a 0% setup"}, false, {"a　(0%) #1 (disabled)"}},
        {"NewestOnTopInIdOrder", {"1 a 0% setup", "1 a 3% downloading, 3 c 0% setup, 4 d 0% setup"},
         false, {"d　(0%) #4 (disabled)", "c　(0%) #3 (disabled)", "a　(3%) #1 (disabled)"}},
        {"CompleteEnablesDelete", {"1 a 9% downloading", "1 a 完了 complete"}, true, {"a #1 ✓ (disabled)"}},
        // Item 3, above the table's last id, is not visited: it stays until the table is empty.
        {"GoneRowsUpToTheLastId", {"1 a 完了 complete, 2 b 5% downloading, 3 c 完了 complete",
         "2 b 5% downloading"}, true, {"c #3 ✓ (disabled)", "b　(5%) #2 (disabled)"}},
        {"EmptyTable", {"1 a 完了 complete", ""}, false, {}},
        // Operations report from their own threads: rows need not come in id order.
        {"RowsOutOfIdOrder", {"2 b 0% setup, 1 a 0% setup"}, false, {"b　(0%) #2 (disabled)", "a　(0%) #1 (disabled)"}},
        {"RepeatedIdShowsTheFirstRecord", {"1 a 30% downloading, 1 a 0% setup"}, false, {"a　(30%) #1 (disabled)"}},
        {"UnreadableIdIsNotShown", {"x a 0% setup"}, false, {}},
        // clang-format on
    };
    for (const auto& [name, tables, deleteEnabled, downloads] : rows) {
        SCOPED_TRACE(name);
        Harness h;
        test::NotificationRecorder deletes(h.platform.center, notification::kDeleteCompletedItem);
        for (const std::string& pass : tables) h.bar->setDownloadStatus(table(pass));
        EXPECT_EQ(describe(*h.menu()), mainMenu(downloads, deleteEnabled));
        EXPECT_EQ(h.changes > 0, tables.size() > 1 || !downloads.empty());
        h.changes = 0;
        h.bar->setDownloadStatus(table(tables.back()));
        EXPECT_TRUE(!deleteEnabled || h.menu()->itemWithTitle(kDelete)->perform());
        EXPECT_EQ(std::pair(h.changes, deletes.objects().size()),
                  std::pair(0, deleteEnabled ? 1ul : 0ul));
    }
}

// Answered at launch, then after each growth of the change count (a count that went down is the
// new base), the last time by the main loop's timer. Enabled by an earlier copy, the command
// reads the clipboard again when chosen.
TEST(StatusBarTest, PasteboardIsAnsweredAfterEveryCopyAndReadAgainWhenChosen) {
    Harness h;
    ObservePasteBoard watcher(h.platform.services);
    test::NotificationRecorder answers(h.platform.center, notification::kCheckPasteBoard);
    test::NotificationRecorder requests(h.platform.center, notification::kDownloadRequest);
    HeadlessPasteboard& board = h.platform.pasteboard;
    board.setString("http://example.com/a.mp4");
    watcher.beginObservingPasteboard();
    watcher.observePasteboard();
    board.setString("http://example.com/a.mp4");
    watcher.observePasteboard();
    board.setChangeCount(0);
    watcher.observePasteboard();
    const std::pair<std::optional<std::string>, bool> texts[] = {
        // clang-format off
        {"https://example.com/a.mp4", true}, {"http://a/" + std::string(65527, 'x'), true},
        {"http://a/" + std::string(65528, 'x'), false}, {"http://a/1\nhttp://a/2", false},
        {"ダウンロード", false}, {std::nullopt, false}};
    // clang-format on
    Lines answered{"YES", "YES"}, requested, refusals;
    for (const auto& [text, downloadable] : texts) {
        board.setString("http://example.com/earlier.mp4");
        watcher.observePasteboard();
        board.setString(text);
        const auto command = h.menu()->itemAtIndex(0);
        ASSERT_TRUE(command->perform());
        watcher.observePasteboard();
        EXPECT_TRUE(command->target() == (downloadable ? h.bar.get() : nullptr) &&
                    command->actionName() == (downloadable ? "menuFunctionDownload" : ""))
            << text.value_or("no text").substr(0, 30);
        answered.insert(answered.end(), {"YES", downloadable ? "YES" : "NO"});
        (downloadable ? requested : refusals).push_back(text.value_or(""));
    }
    EXPECT_EQ(requests.strings("URL"), requested);
    EXPECT_EQ(h.alerts(), Lines(refusals.size(),
                                "Kestrova: ペーストボードにダウンロード"
                                "可能なURLが見つかりません。 [OK||]"));
    board.setString("plain words");
    RunLoop& loop = h.platform.runLoop;
    h.platform.center.addObserver(&h, notification::kCheckPasteBoard,
                                  [&loop](const PlistValue&) { loop.quit(0); });
    loop.addTimer(std::chrono::seconds(30), RunLoopMode::Common, [&loop] { loop.quit(1); });
    EXPECT_EQ(loop.run(), 0);
    h.platform.center.removeObserver(&h);
    answered.push_back("NO");
    EXPECT_EQ(answers.strings(), answered);
}

PlistValue anime(const std::string& title, PlistValue status, PlistValue lock = kFalse) {
    return PlistValue::dictionary({{"title", PlistValue::string(title)},
                                   {"keyword", PlistValue::array({PlistValue::string(title)})},
                                   {"status", status},
                                   {"lock", lock}});
}

// Every posted list comes back as a rebuild inside the choosing item's own action, as the
// application does. Only the boolean true checks; a locked title, on or off, is refused.
TEST(StatusBarTest, AutoDownloadMenuShowsAndSwitchesTitlesUnlessLocked) {
    Harness h;
    const auto show = [&](bool use, std::optional<PlistValue> list) {
        h.bar->updateAutoDownloadSystemMenu(use, std::move(list), std::nullopt);
    };
    h.platform.center.addObserver(&h, notification::kUpdateDlst,
                                  [&](const PlistValue& list) { show(false, list); });
    test::NotificationRecorder lists(h.platform.center, notification::kUpdateDlst);
    const auto list = [](const std::vector<PlistValue>& r) { return PlistValue::array(r); };
    const std::string use = "自動ダウンロードシステムを使用する";
    show(true, list({anime("On", kTrue), anime("Off", kFalse), anime("1", PlistValue::integer(1)),
                     PlistValue::dictionary({{"status", kTrue}}), PlistValue::string("x")}));
    EXPECT_EQ(describe(*h.submenu(3)), (Lines{use + " ✓", "--- (disabled)", "On ✓", "Off", "1"}));
    EXPECT_EQ(h.platform.log.linesStartingWith("AdminSystemStatusBar -> Skipped").size(), 2u);
    MenuItem gone("Gone");
    h.bar->switchAnimeAutoDownload(gone);
    EXPECT_EQ(lists.objects().size(), 1u);

    const PlistValue one = PlistValue::integer(1);  // a lock that is no boolean locks nothing
    const PlistValue l = anime("L", kTrue, kTrue), m = anime("M", kFalse, kTrue);
    show(false, list({anime("A", kTrue), anime("B", kFalse, one), l, m}));
    for (const std::size_t index : {2, 3, 4, 5})
        ASSERT_TRUE(h.submenu(3)->itemAtIndex(index)->perform());
    const Posts posts = lists.objects();
    EXPECT_TRUE(Posts(posts.begin() + 1, posts.end()) ==
                (Posts{list({anime("A", kFalse), anime("B", kFalse, one), l, m}),
                       list({anime("A", kFalse), anime("B", kTrue, one), l, m})}));
    EXPECT_EQ(describe(*h.submenu(3)), (Lines{use, "--- (disabled)", "A", "B ✓", "L ✓", "M"}));
    EXPECT_EQ(
        h.alerts(),
        Lines(2, "Kestrova エラー: このアニメのダウンロードを無効化することはできません。 [OK]"));
    for (const auto& absent :
         {std::optional<PlistValue>(), std::optional(PlistValue::string("x"))}) {
        show(false, absent);
        EXPECT_EQ(
            describe(*h.submenu(3)),
            (Lines{use, "--- (disabled)", "ダウンロードリストの取得に失敗しました。 (disabled)"}));
    }
    h.platform.center.removeObserver(&h);
}

// Every entry starting a program inside this one's path counts (not one whose path is a prefix
// of it); each choice removes one, and the mark goes off with the last.
TEST(StatusBarTest, OpenAtLoginAddsOrRemovesOneEntryOfThisProgram) {
    Harness h;
    const fs::path dir = h.platform.files.configDirectory() / "autostart";
    const auto write = [&](const std::string& name, const std::string& exec) {
        std::ofstream(dir / name) << "[Desktop Entry]\nExec=" + exec + "\n";
    };
    const auto entries = [&] {
        Lines names;
        for (const auto& [name, size] : test::filesIn(dir)) names.push_back(name);
        return names;
    };
    const auto item = [&] { return h.submenu(4)->itemAtIndex(0); };
    const auto choose = [&] { return item()->perform() && item()->state() == MenuItem::kOn; };
    fs::create_directories(dir);
    write("aaa.desktop", "/usr/bin/editor --daemon");
    write("zzz.desktop", "\"/opt/Kestrova App/kestrov\"");
    h.launch();
    EXPECT_TRUE(item()->state() == MenuItem::kOff && choose());
    const Lines added{"aaa.desktop", "kestrova.desktop", "zzz.desktop"};
    EXPECT_EQ(entries(), added);
    write("a.desktop", "\"/opt/Kestrova App/kestrova-helper\" --tray");
    h.launch();
    EXPECT_TRUE(item()->state() == MenuItem::kOn && choose());  // a.desktop goes first
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

// A different version is offered and its page opened only on "はい"; no page is a failed check.
TEST(StatusBarTest, UpdateCheckAlertsAndOpensTheReleasePageOnlyOnYes) {
    test::LoopbackServer server;
    Harness h(server.baseURL());
    const std::tuple<std::string, int, int> checks[] = {{"2.0", 200, Alert::kDefaultReturn},
                                                        {"1.0", 200, Alert::kAlternateReturn},
                                                        {"1.2.3", 200, Alert::kDefaultReturn},
                                                        {"2.0", 404, Alert::kDefaultReturn}};
    for (const auto& [version, status, answer] : checks) {
        server.reply("/file/Kestrova/",
                     {.status = status, .body = "<li>バージョン：" + version + "</li>"});
        h.platform.alerts.answerNext(answer);
        ASSERT_TRUE(h.submenu(4)->itemAtIndex(3)->perform());
    }
    const std::string offer =
        ") が見つかりました。\nダウンロードページを開きますか？ [はい|いいえ|]";
    EXPECT_EQ(h.alerts(),
              (Lines{"Kestrova: 最新のバージョンの Kestrova (v2.0" + offer,
                     "Kestrova: 最新のバージョンの Kestrova (v1.0" + offer,
                     "Kestrova: このバージョンの Kestrova (v1.2.3) は最新バージョンです。 [OK||]",
                     "Kestrova: アップデートの確認に失敗しました。 [OK||]"}));
    EXPECT_EQ(h.platform.log.linesStartingWith("Workspace -> Open: "),
              Lines{"Workspace -> Open: " + server.url("/file/Kestrova/")});
}

}  // namespace
}  // namespace kestrova
