#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QThread>
#include <QTimer>

#include "QtTestSession.h"
#include "platform/qt/QtMenuMirror.h"
#include "platform/qt/QtStatusItemRenderer.h"

namespace kestrova::qt {
namespace {

using test::spinUntil;

std::shared_ptr<MenuItem> command(const std::string& title, int* chosen) {
    auto item = std::make_shared<MenuItem>(title);
    item->setTarget(chosen);
    item->setAction("choose", [chosen](MenuItem&) { ++*chosen; });
    return item;
}

std::vector<QString> texts(const QMenu& menu) {
    std::vector<QString> out;
    for (const QAction* a : menu.actions()) out.push_back(a->isSeparator() ? "---" : a->text());
    return out;
}

class QtMenuMirrorTest : public ::testing::Test {
protected:
    QMenu qmenu;
    int afterChoice = 0;
    QtMenuMirror mirror{qmenu, QtMenuMirror::Labels::Qt, [this] { ++afterChoice; }};
    std::shared_ptr<Menu> model = std::make_shared<Menu>("Main");
    int chosen = 0;
};

TEST_F(QtMenuMirrorTest, ShowsTheModelAsItIs) {
    model->addItem(command("Tom & Jerry_01.mp4", &chosen));
    model->addItem(MenuItem::separatorItem());
    auto disabled = std::make_shared<MenuItem>("ダウンロードが完了した項目を削除");
    model->addItem(disabled);
    auto ticked = command("ログを保存する", &chosen);
    ticked->setState(MenuItem::kOn);
    auto settings = std::make_shared<MenuItem>("設定…");
    settings->setKeyEquivalent(",");
    auto sub = std::make_shared<Menu>("SubMenuSettings");
    sub->addItem(ticked);
    settings->setSubmenu(sub);
    model->addItem(settings);
    auto quit = command("Kestrovaを終了", &chosen);
    quit->setKeyEquivalent("q");
    model->addItem(quit);

    mirror.sync(*model);

    EXPECT_EQ(texts(qmenu), (std::vector<QString>{"Tom && Jerry_01.mp4", "---",
                                                  "ダウンロードが完了した項目を削除", "設定…",
                                                  "Kestrovaを終了"}));
    const auto actions = qmenu.actions();
    EXPECT_TRUE(actions[0]->isEnabled());
    EXPECT_FALSE(actions[0]->isCheckable());
    EXPECT_FALSE(actions[2]->isEnabled()) << "no receiver: shown disabled";
    EXPECT_TRUE(actions[3]->isEnabled()) << "a submenu is always enabled";
    EXPECT_EQ(actions[3]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    EXPECT_EQ(actions[4]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    ASSERT_NE(actions[3]->menu(), nullptr);
    const QAction* inner = actions[3]->menu()->actions().value(0);
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->text(), "ログを保存する");
    EXPECT_TRUE(inner->isCheckable());
    EXPECT_TRUE(inner->isChecked());
}

TEST_F(QtMenuMirrorTest, APanelsMenuDoublesTheMnemonicMarksItReads) {
    QMenu panelMenu;
    QtMenuMirror panelMirror(panelMenu, QtMenuMirror::Labels::DBusMenu, nullptr);
    auto sub = std::make_shared<Menu>("Sub");
    sub->addItem(std::make_shared<MenuItem>("a_b & c"));
    auto holder = std::make_shared<MenuItem>("x_y");
    holder->setSubmenu(sub);
    model->addItem(holder);
    panelMirror.sync(*model);
    mirror.sync(*model);
    EXPECT_EQ(texts(panelMenu), std::vector<QString>{"x__y"});
    EXPECT_EQ(texts(*panelMenu.actions()[0]->menu()), std::vector<QString>{"a__b && c"});
    EXPECT_EQ(texts(*qmenu.actions()[0]->menu()), std::vector<QString>{"a_b && c"});
}

TEST_F(QtMenuMirrorTest, UpdatesInPlace) {
    auto paste = command("ペーストボードからダウンロード", &chosen);
    auto quit = command("Kestrovaを終了", &chosen);
    model->addItem(paste);
    model->addItem(MenuItem::separatorItem());
    model->addItem(quit);
    mirror.sync(*model);
    const QList<QAction*> before = qmenu.actions();

    // A download appears below a new separator, then makes progress, then completes.
    auto download = std::make_shared<MenuItem>("a.bin\u3000(0.0%)");
    model->insertItem(MenuItem::separatorItem(), 1);
    model->insertItem(download, 2);
    mirror.sync(*model);
    QList<QAction*> now = qmenu.actions();
    ASSERT_EQ(now.size(), 5);
    EXPECT_EQ(now[0], before[0]);
    EXPECT_EQ(now[3], before[1]);
    EXPECT_EQ(now[4], before[2]);
    QAction* downloadAction = now[2];
    EXPECT_FALSE(downloadAction->isEnabled());

    int changes = 0;
    QObject::connect(downloadAction, &QAction::changed, [&] { ++changes; });
    download->setTitle("a.bin\u3000(42.5%)");
    mirror.sync(*model);
    mirror.sync(*model);  // nothing new: nothing touched
    EXPECT_EQ(changes, 1);
    download->setTitle("a.bin");
    download->setState(MenuItem::kOn);
    mirror.sync(*model);
    EXPECT_EQ(qmenu.actions()[2], downloadAction);
    EXPECT_EQ(downloadAction->text(), "a.bin");
    EXPECT_TRUE(downloadAction->isChecked());
    // Unticked again (a switch): still a check box, now empty, so a panel that merges
    // property updates shows the same as one that reads the whole menu.
    download->setState(MenuItem::kOff);
    mirror.sync(*model);
    EXPECT_TRUE(downloadAction->isCheckable());
    EXPECT_FALSE(downloadAction->isChecked());

    // Deleting completed items leaves the fixed ones, the same actions as at the start.
    model->removeItemAtIndex(1);
    model->removeItemAtIndex(1);
    mirror.sync(*model);
    EXPECT_EQ(qmenu.actions(), before);

    // An item taken out and put back elsewhere keeps its action.
    model->removeItem(paste);
    model->addItem(paste);
    mirror.sync(*model);
    EXPECT_EQ(texts(qmenu),
              (std::vector<QString>{"---", "Kestrovaを終了", "ペーストボードからダウンロード"}));
    EXPECT_EQ(qmenu.actions()[2], before[0]);
}

TEST_F(QtMenuMirrorTest, ChoosingRunsTheActionLaterOnTheMainThread) {
    auto item = command("ペーストボードからダウンロード", &chosen);
    model->addItem(item);
    mirror.sync(*model);
    qmenu.actions()[0]->trigger();
    EXPECT_EQ(chosen, 0) << "ran inside the signal that reported the choice";
    ASSERT_TRUE(spinUntil([&] { return chosen == 1; }));
    EXPECT_EQ(afterChoice, 1);

    // A command whose receiver was cleared is disabled; choosing it does nothing.
    item->setTarget(nullptr);
    mirror.sync(*model);
    EXPECT_FALSE(qmenu.actions()[0]->isEnabled());
    qmenu.actions()[0]->trigger();
    bool turnDone = false;
    QTimer::singleShot(0, [&] { turnDone = true; });
    ASSERT_TRUE(spinUntil([&] { return turnDone; }));
    EXPECT_EQ(chosen, 1);
}

TEST_F(QtMenuMirrorTest, AnActionMayReplaceItsOwnMenu) {
    auto sub = std::make_shared<Menu>("SubMenuAutoDownloadSystem");
    auto holder = std::make_shared<MenuItem>("自動ダウンロードシステム");
    holder->setSubmenu(sub);
    model->addItem(holder);
    std::function<void()> rebuild = [&] {
        sub->removeAllItems();
        auto title = std::make_shared<MenuItem>("title " + std::to_string(chosen));
        title->setTarget(&chosen);
        title->setAction("switch", [&](MenuItem&) {
            ++chosen;
            rebuild();
        });
        sub->addItem(title);
    };
    rebuild();
    mirror.sync(*model);
    for (int round = 1; round <= 3; ++round) {
        QMenu* submenu = qmenu.actions()[0]->menu();
        ASSERT_NE(submenu, nullptr);
        submenu->actions()[0]->trigger();
        ASSERT_TRUE(spinUntil([&] { return afterChoice == round; }));
        mirror.sync(*model);
        EXPECT_EQ(texts(*qmenu.actions()[0]->menu()),
                  (std::vector<QString>{QString("title %1").arg(round)}));
    }
}

// A renderer following a status item whose menu holds one item.
class QtStatusItemRendererTest : public ::testing::Test {
protected:
    void show(std::shared_ptr<MenuItem> only) {
        auto menu = std::make_shared<Menu>("SystemStatusBarMenu");
        menu->addItem(std::move(only));
        item->setMenu(menu);
        ASSERT_TRUE(spinUntil([&] { return renderer.menu().actions().size() == 1; }));
        action = renderer.menu().actions()[0];
    }
    std::shared_ptr<StatusItem> item = std::make_shared<StatusItem>();
    QtStatusItemRenderer renderer{item};
    QAction* action = nullptr;
};

TEST_F(QtStatusItemRendererTest, ManyChangesInOneTurnGiveOneSync) {
    auto download = std::make_shared<MenuItem>("x.bin\u3000(0.0%)");
    ASSERT_NO_FATAL_FAILURE(show(download));
    int changes = 0;
    QObject::connect(action, &QAction::changed, [&] { ++changes; });
    for (int i = 1; i <= 100; ++i) download->setTitle("x.bin\u3000(" + std::to_string(i) + ".0%)");
    ASSERT_TRUE(spinUntil([&] { return action->text() == "x.bin\u3000(100.0%)"; }));
    EXPECT_EQ(changes, 1);
}

TEST_F(QtStatusItemRendererTest, AChoiceThatChangesNothingKeepsTheModelsCheckMark) {
    int chosen = 0;
    // Like "ログイン時に開く" when the autostart folder cannot be written: the tick stays.
    auto loginItem = command("ログイン時に開く", &chosen);
    loginItem->setState(MenuItem::kOn);
    ASSERT_NO_FATAL_FAILURE(show(loginItem));
    ASSERT_TRUE(action->isChecked());
    action->trigger();  // Qt flips a checkable action by itself
    ASSERT_TRUE(spinUntil([&] { return chosen == 1 && action->isChecked(); }));
}

}  // namespace
}  // namespace kestrova::qt
