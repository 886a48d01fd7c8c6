#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "platform/system/XdgAutostartLoginItems.h"
#include "support/ParamName.h"
#include "support/TempDir.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

class AutostartFolder : public ::testing::Test {
protected:
    fs::path dir() const { return temp.path() / "autostart"; }
    void write(const std::string& name, const std::string& text) const {
        fs::create_directories(dir());
        std::ofstream(dir() / name, std::ios::binary) << text;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(dir() / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    test::TempDir temp;
    XdgAutostartLoginItems items{temp.path() / "autostart"};
};

struct ParseCase {
    const char* name;
    std::string text;
    std::optional<std::string> program;
};

class ExecLineTest : public AutostartFolder, public ::testing::WithParamInterface<ParseCase> {};

TEST_P(ExecLineTest, ResolvesToTheProgramOfTheFirstArgument) {
    write("entry.desktop", GetParam().text);
    const auto entries = items.snapshot();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].id, "entry.desktop");
    if (GetParam().program) {
        ASSERT_TRUE(entries[0].resolvedPath);
        EXPECT_EQ(entries[0].resolvedPath->string(), *GetParam().program);
    } else {
        EXPECT_FALSE(entries[0].resolvedPath) << entries[0].resolvedPath->string();
    }
}

const std::string kHead = "[Desktop Entry]\nType=Application\n";

INSTANTIATE_TEST_SUITE_P(
    Entries, ExecLineTest,
    ::testing::Values(
        ParseCase{"Plain", kHead + "Exec=/usr/bin/app\n", "/usr/bin/app"},
        ParseCase{"Arguments", kHead + "Exec=/usr/bin/app --x %F\n", "/usr/bin/app"},
        ParseCase{"CommentsAndBlankLines", "# hi\n\n" + kHead + "# Exec=/no\nExec=/usr/bin/app\n",
                  "/usr/bin/app"},
        ParseCase{"QuotedSpace", kHead + "Exec=\"/opt/my app/run\" -q\n", "/opt/my app/run"},
        ParseCase{"QuotedEscapes", kHead + "Exec=\"/opt/a\\\\\"b\\\\$c\"\n", "/opt/a\"b$c"},
        // A literal backslash inside quotes is written four times.
        ParseCase{"QuotedBackslash", kHead + "Exec=\"/opt/a\\\\\\\\b\"\n", "/opt/a\\b"},
        ParseCase{"DoubledPercent", kHead + "Exec=/opt/100%%/app\n", "/opt/100%/app"},
        ParseCase{"FirstExecCounts", kHead + "Exec=/usr/bin/one\nExec=/usr/bin/two\n",
                  "/usr/bin/one"},
        ParseCase{"FieldCodeAsProgram", kHead + "Exec=%f\n", std::nullopt},
        ParseCase{"FieldCodeInsideThePath", kHead + "Exec=/opt/a%fb\n", std::nullopt},
        ParseCase{"Relative", kHead + "Exec=app --x\n", std::nullopt},
        ParseCase{"Hidden", kHead + "Hidden=true\nExec=/usr/bin/app\n", std::nullopt},
        ParseCase{"HiddenAfterExec", kHead + "Exec=/usr/bin/app\nHidden=true\n", std::nullopt},
        ParseCase{"BadEscapeInQuotes", kHead + "Exec=\"/opt/\\\\a\"\n", std::nullopt},
        ParseCase{"QuoteNotAWholeArgument", kHead + "Exec=\"/opt/a\"b\n", std::nullopt},
        ParseCase{"CrLfLines", "[Desktop Entry]\r\nExec=/usr/bin/app\r\n", "/usr/bin/app"},
        ParseCase{"NoGroup", "Exec=/usr/bin/app\n", std::nullopt},
        ParseCase{"ExecOfAnotherGroup", kHead + "[Desktop Action Tray]\nExec=/usr/bin/app\n",
                  std::nullopt},
        ParseCase{"UnterminatedQuote", kHead + "Exec=\"/opt/a b\n", std::nullopt}),
    test::ParamName());

TEST_F(AutostartFolder, ListsDesktopFilesInNameOrder) {
    write("b.desktop", "[Desktop Entry]\nExec=/b\n");
    write("a.desktop", "[Desktop Entry]\nExec=/a\n");
    write("c.desktop.bak", "[Desktop Entry]\nExec=/c\n");
    write("notes.txt", "");
    fs::create_directories(dir() / "d.desktop");
    fs::create_symlink(dir() / "missing", dir() / "0-dangling.desktop");
    std::vector<std::string> ids;
    for (const auto& entry : items.snapshot()) ids.push_back(entry.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"a.desktop", "b.desktop"}));
}

TEST_F(AutostartFolder, InsertionTakesTheFirstFreeNameAndLeavesNoTemporaryFile) {
    const std::string foreign = "[Desktop Entry]\nExec=/usr/bin/other\n";
    write("kestrova.desktop", foreign);
    write("kestrova-2.desktop", foreign);
    ASSERT_TRUE(items.insertLast("/usr/bin/kestrova"));
    ASSERT_TRUE(items.insertLast("/usr/bin/kestrova"));
    EXPECT_EQ(read("kestrova.desktop"), foreign);
    EXPECT_EQ(read("kestrova-2.desktop"), foreign);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"kestrova-1.desktop", "kestrova-2.desktop",
                                               "kestrova-3.desktop", "kestrova.desktop"}));
    EXPECT_FALSE(items.insertLast("relative/kestrova"));
}

class QuotingTest : public AutostartFolder, public ::testing::WithParamInterface<ParseCase> {};

// Insertion makes the missing folder; the path written reads back unchanged.
TEST_P(QuotingTest, WrittenPathReadsBackUnchanged) {
    const std::string program = GetParam().text;
    EXPECT_TRUE(items.snapshot().empty());
    ASSERT_TRUE(items.insertLast(program));
    const auto entries = items.snapshot();
    ASSERT_EQ(entries.size(), 1u);
    ASSERT_TRUE(entries[0].resolvedPath);
    EXPECT_EQ(entries[0].resolvedPath->string(), program);
    EXPECT_EQ(read("kestrova.desktop"), "[Desktop Entry]\nType=Application\nName=Kestrova\nExec=" +
                                            *GetParam().program + "\n");
}

// text: the program path; program: how its Exec= value is written.
INSTANTIATE_TEST_SUITE_P(
    Paths, QuotingTest,
    ::testing::Values(ParseCase{"Plain", "/usr/bin/kestrova", "/usr/bin/kestrova"},
                      ParseCase{"Space", "/opt/My Apps/kestrova", "\"/opt/My Apps/kestrova\""},
                      ParseCase{"Percent", "/opt/100%/kestrova", "/opt/100%%/kestrova"},
                      ParseCase{"QuoteAndBacktick", "/opt/a\"b`c/k", "\"/opt/a\\\\\"b\\\\`c/k\""},
                      ParseCase{"Backslash", "/opt/a\\b/k", "\"/opt/a\\\\\\\\b/k\""},
                      ParseCase{"Japanese", "/opt/ひまわり/kestrova", "/opt/ひまわり/kestrova"}),
    test::ParamName());

TEST_F(AutostartFolder, RemovalDeletesOnlyTheEntryAsItWasSeen) {
    write("kestrova.desktop", "[Desktop Entry]\nExec=/usr/bin/kestrova\n");
    write("other.desktop", "[Desktop Entry]\nExec=/usr/bin/other\n");
    const auto entries = items.snapshot();
    ASSERT_EQ(entries.size(), 2u);

    // Rewritten to start something else since the snapshot: it is no longer the same entry.
    write("other.desktop", "[Desktop Entry]\nExec=/usr/bin/changed\n");
    EXPECT_FALSE(items.remove(entries[1]));
    EXPECT_TRUE(fs::exists(dir() / "other.desktop"));

    // Names that would lead out of the folder, and entries that do not resolve, are refused.
    write("../outside.desktop", "[Desktop Entry]\nExec=/usr/bin/kestrova\n");
    EXPECT_FALSE(items.remove({"../outside.desktop", fs::path("/usr/bin/kestrova")}));
    EXPECT_TRUE(fs::exists(temp.path() / "outside.desktop"));
    EXPECT_FALSE(items.remove({"kestrova.desktop", std::nullopt}));

    EXPECT_TRUE(items.remove(entries[0]));
    EXPECT_FALSE(fs::exists(dir() / "kestrova.desktop"));
    EXPECT_TRUE(fs::exists(dir() / "other.desktop"));
}

}  // namespace
}  // namespace kestrova
