// The autostart folder's desktop entries: which program an entry starts, how Kestrova's own entry
// is written (and read back), and removal of only the entry that was seen.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "download/TestFiles.h"
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
        test::writeFile(dir() / name, text);
    }
    std::string read(const std::string& name) const { return test::readFile(dir() / name); }

    test::TempDir temp;
    XdgAutostartLoginItems items{temp.path() / "autostart"};
};

struct ParseCase {
    const char* name;
    std::string text;
    std::optional<std::string> program;
};

class ExecLineTest : public AutostartFolder, public ::testing::WithParamInterface<ParseCase> {};

// How quotes, escapes and %% are read is shown by the quoting table below, which pins the text.
TEST_P(ExecLineTest, ResolvesToTheProgramOfTheFirstArgument) {
    write("entry.desktop", GetParam().text);
    const auto entries = items.snapshot();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].id, "entry.desktop");
    const auto& program = GetParam().program;
    EXPECT_EQ(entries[0].resolvedPath, program ? std::optional<fs::path>(*program) : std::nullopt);
}

const std::string kHead = "[Desktop Entry]\nType=Application\n";

INSTANTIATE_TEST_SUITE_P(
    Entries, ExecLineTest,
    ::testing::Values(
        ParseCase{"Arguments", kHead + "Exec=/usr/bin/app --x %F\n", "/usr/bin/app"},
        ParseCase{"CommentsAndBlankLines", "# hi\n\n" + kHead + "# Exec=/no\nExec=/usr/bin/app\n",
                  "/usr/bin/app"},
        ParseCase{"FirstExecCounts", kHead + "Exec=/usr/bin/one\nExec=/usr/bin/two\n",
                  "/usr/bin/one"},
        ParseCase{"CrLfLines", "[Desktop Entry]\r\nExec=/usr/bin/app\r\n", "/usr/bin/app"},
        ParseCase{"FieldCodeAsProgram", kHead + "Exec=%f\n", std::nullopt},
        ParseCase{"FieldCodeInsideThePath", kHead + "Exec=/opt/a%fb\n", std::nullopt},
        ParseCase{"Relative", kHead + "Exec=app --x\n", std::nullopt},
        ParseCase{"Hidden", kHead + "Hidden=true\nExec=/usr/bin/app\n", std::nullopt},
        ParseCase{"HiddenAfterExec", kHead + "Exec=/usr/bin/app\nHidden=true\n", std::nullopt},
        ParseCase{"BadEscapeInQuotes", kHead + "Exec=\"/opt/\\\\a\"\n", std::nullopt},
        ParseCase{"QuoteNotAWholeArgument", kHead + "Exec=\"/opt/a\"b\n", std::nullopt},
        ParseCase{"UnterminatedQuote", kHead + "Exec=\"/opt/a b\n", std::nullopt},
        ParseCase{"NoGroup", "Exec=/usr/bin/app\n", std::nullopt},
        ParseCase{"ExecOfAnotherGroup", kHead + "[Desktop Action Tray]\nExec=/usr/bin/app\n",
                  std::nullopt}),
    test::ParamName());

TEST_F(AutostartFolder, ListsDesktopFilesInNameOrder) {
    for (const char* name : {"b.desktop", "a.desktop", "c.desktop.bak", "notes.txt"}) {
        write(name, "[Desktop Entry]\nExec=/x\n");
    }
    fs::create_directories(dir() / "d.desktop");
    fs::create_symlink(dir() / "missing", dir() / "0-dangling.desktop");
    std::vector<std::string> ids;
    for (const auto& entry : items.snapshot()) ids.push_back(entry.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"a.desktop", "b.desktop"}));
}

// text: the program path; program: how its Exec= value is written. Insertion makes the missing
// folder, takes the first free name and leaves no temporary file; the path reads back unchanged.
class QuotingTest : public AutostartFolder, public ::testing::WithParamInterface<ParseCase> {};

TEST_P(QuotingTest, WrittenPathReadsBackUnchanged) {
    const std::string program = GetParam().text, foreign = "[Desktop Entry]\nExec=/usr/bin/x\n";
    ASSERT_TRUE(items.insertLast(program));
    EXPECT_EQ(read("kestrova.desktop"), "[Desktop Entry]\nType=Application\nName=Kestrova\nExec=" +
                                            *GetParam().program + "\n");
    write("kestrova-2.desktop", foreign);
    ASSERT_TRUE(items.insertLast(program));
    ASSERT_TRUE(items.insertLast(program));
    EXPECT_EQ(read("kestrova-1.desktop"), read("kestrova.desktop"));
    EXPECT_EQ(read("kestrova-2.desktop"), foreign);
    EXPECT_EQ(read("kestrova-3.desktop"), read("kestrova.desktop"));
    EXPECT_EQ(test::filesIn(dir()).size(), 4u);
    const auto entries = items.snapshot();
    ASSERT_EQ(entries.size(), 4u);
    ASSERT_TRUE(entries[0].resolvedPath);
    EXPECT_EQ(entries[0].resolvedPath->string(), program);
    EXPECT_FALSE(items.insertLast("relative/kestrova"));
}

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
    // Names that would lead out of the folder, and entries that do not resolve, are refused.
    write("../outside.desktop", "[Desktop Entry]\nExec=/usr/bin/kestrova\n");
    EXPECT_FALSE(items.remove({"../outside.desktop", fs::path("/usr/bin/kestrova")}));
    EXPECT_FALSE(items.remove({"kestrova.desktop", std::nullopt}));
    EXPECT_TRUE(items.remove(entries[0]));
    EXPECT_EQ(test::filesIn(dir()).size(), 1u);
    EXPECT_TRUE(fs::exists(dir() / "other.desktop") && fs::exists(temp.path() / "outside.desktop"));
}

}  // namespace
}  // namespace kestrova
