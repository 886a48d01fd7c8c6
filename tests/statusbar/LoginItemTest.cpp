#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "statusbar/StatusBarHarness.h"
#include "support/ParamName.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

constexpr const char* kProgram = "/opt/Kestrova App/kestrova";

std::string entryText(const std::string& execLine, const std::string& extra = "") {
    return "[Desktop Entry]\nType=Application\nName=Something\n" + execLine + "\n" + extra;
}

const std::map<std::string, std::string> kForeign = {
    {"aaa-editor.desktop", entryText("Exec=/usr/bin/editor --daemon")},
    {"zzz-chat.desktop", entryText("Exec=\"/usr/lib/chat app/chat\" %U")},
};

// A status bar in a temporary home whose program is kProgram, with the foreign autostart
// entries in place.
class LoginItem : public ::testing::Test {
protected:
    LoginItem() : h(options()) {
        fs::create_directories(dir());
        for (const auto& [name, text] : kForeign) write(name, text);
    }
    static test::StatusBarHarness::Options options() {
        test::StatusBarHarness::Options o;
        o.programPath = kProgram;
        return o;
    }
    fs::path dir() const { return h.platform.files.configDirectory() / "autostart"; }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(dir() / name, std::ios::binary) << text;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(dir() / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const auto& e : fs::directory_iterator(dir())) out.insert(e.path().filename());
        return out;
    }
    std::shared_ptr<MenuItem> openAtLogin() const {
        return h.mainMenu()->itemAtIndex(4)->submenu()->itemAtIndex(0);
    }
    void expectForeignUntouched() const {
        for (const auto& [name, text] : kForeign) EXPECT_EQ(read(name), text) << name;
    }

    test::StatusBarHarness h;
};

TEST_F(LoginItem, ChoosingAddsAnEntryThatTheNextLaunchSees) {
    h.setUp();
    EXPECT_EQ(openAtLogin()->state(), MenuItem::kOff);
    ASSERT_TRUE(openAtLogin()->perform());
    EXPECT_EQ(openAtLogin()->state(), MenuItem::kOn);
    EXPECT_EQ(
        read("kestrova.desktop"),
        "[Desktop Entry]\nType=Application\nName=Kestrova\nExec=\"/opt/Kestrova App/kestrova\"\n");
    EXPECT_EQ(names(), (std::set<std::string>{"aaa-editor.desktop", "kestrova.desktop",
                                              "zzz-chat.desktop"}));
    expectForeignUntouched();

    h.setUp();  // a new start reads the list again
    EXPECT_EQ(openAtLogin()->state(), MenuItem::kOn);
    ASSERT_TRUE(openAtLogin()->perform());
    EXPECT_EQ(openAtLogin()->state(), MenuItem::kOff);
    EXPECT_EQ(names(), (std::set<std::string>{"aaa-editor.desktop", "zzz-chat.desktop"}));
    expectForeignUntouched();
}

TEST_F(LoginItem, TwoEntriesNeedTwoChoices) {
    write("a-kestrova.desktop", entryText("Exec=\"/opt/Kestrova App/kestrova\""));
    write("b-kestrova.desktop", entryText("Exec=\"/opt/Kestrova App/kestrova\" --tray"));
    h.setUp();
    ASSERT_EQ(openAtLogin()->state(), MenuItem::kOn);
    ASSERT_TRUE(openAtLogin()->perform());
    EXPECT_FALSE(fs::exists(dir() / "a-kestrova.desktop"));
    EXPECT_TRUE(fs::exists(dir() / "b-kestrova.desktop"));
    EXPECT_EQ(openAtLogin()->state(), MenuItem::kOn);
    ASSERT_TRUE(openAtLogin()->perform());
    EXPECT_FALSE(fs::exists(dir() / "b-kestrova.desktop"));
    EXPECT_EQ(openAtLogin()->state(), MenuItem::kOff);
    expectForeignUntouched();
}

TEST_F(LoginItem, HiddenEntryIsNeitherCountedNorTouched) {
    const std::string hidden = entryText("Exec=\"/opt/Kestrova App/kestrova\"", "Hidden=true\n");
    write("kestrova.desktop", hidden);
    h.setUp();
    EXPECT_EQ(openAtLogin()->state(), MenuItem::kOff);
    ASSERT_TRUE(openAtLogin()->perform());
    EXPECT_EQ(openAtLogin()->state(), MenuItem::kOn);
    EXPECT_TRUE(fs::exists(dir() / "kestrova-1.desktop"));
    ASSERT_TRUE(openAtLogin()->perform());
    EXPECT_EQ(openAtLogin()->state(), MenuItem::kOff);
    EXPECT_FALSE(fs::exists(dir() / "kestrova-1.desktop"));
    EXPECT_EQ(read("kestrova.desktop"), hidden);
    expectForeignUntouched();
}

TEST_F(LoginItem, TheListDecidesNotTheCheckMark) {
    h.setUp();
    ASSERT_EQ(openAtLogin()->state(), MenuItem::kOff);
    // Added outside Kestrova after launch: the choice removes it and the mark stays off.
    write("other-tool-kestrova.desktop", entryText("Exec=\"/opt/Kestrova App/kestrova\""));
    ASSERT_TRUE(openAtLogin()->perform());
    EXPECT_FALSE(fs::exists(dir() / "other-tool-kestrova.desktop"));
    EXPECT_EQ(openAtLogin()->state(), MenuItem::kOff);
}

struct EntryCase {
    const char* name;
    std::string text;
    bool kestrovas;
};

class LoginEntryTest : public LoginItem, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(LoginEntryTest, CountsAndIsRemovedOnlyWhenKestrovas) {
    write("entry.desktop", GetParam().text);
    h.setUp();
    EXPECT_EQ(openAtLogin()->state(), GetParam().kestrovas ? MenuItem::kOn : MenuItem::kOff);
    ASSERT_TRUE(openAtLogin()->perform());
    if (GetParam().kestrovas) {
        EXPECT_FALSE(fs::exists(dir() / "entry.desktop"));
        EXPECT_FALSE(fs::exists(dir() / "kestrova.desktop"));
        EXPECT_EQ(openAtLogin()->state(), MenuItem::kOff);
    } else {
        EXPECT_EQ(read("entry.desktop"), GetParam().text);
        EXPECT_TRUE(fs::exists(dir() / "kestrova.desktop"));
        EXPECT_EQ(openAtLogin()->state(), MenuItem::kOn);
    }
    expectForeignUntouched();
}

// How an Exec= line is read is tested with the autostart folder; these rows are about which
// program paths count as Kestrova's.
INSTANTIATE_TEST_SUITE_P(
    Entries, LoginEntryTest,
    ::testing::Values(EntryCase{"QuotedWithArguments",
                                entryText("Exec=\"/opt/Kestrova App/kestrova\" --a %U"), true},
                      EntryCase{"InsideTheProgramPath",
                                entryText("Exec=\"/opt/Kestrova App/kestrova-helper\""), true},
                      EntryCase{"ShorterPath", entryText("Exec=\"/opt/Kestrova App/kestrov\""),
                                false},
                      EntryCase{"UnquotedSpaceEndsTheProgram",
                                entryText("Exec=/opt/Kestrova\\sApp/kestrova"), false},
                      EntryCase{"RelativeName", entryText("Exec=kestrova"), false},
                      EntryCase{"StartedThroughEnv",
                                entryText("Exec=env \"/opt/Kestrova App/kestrova\""), false}),
    test::ParamName());

}  // namespace
}  // namespace kestrova
