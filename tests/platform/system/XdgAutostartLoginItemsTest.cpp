// The autostart folder's desktop entries: which program an entry starts, how Kestrova's own entry
// is written (and read back), and removal of only the entry that was seen.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <vector>

#include "download/TestFiles.h"
#include "platform/system/XdgAutostartLoginItems.h"
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
    // Every file in the folder as "name=content;", and how each entry resolves as "id:program;".
    std::string folder() const {
        std::string out;
        for (const auto& [name, size] : test::filesIn(dir()))
            out += name + "=" +
                   (fs::is_regular_file(dir() / name) ? test::readFile(dir() / name) : "") + ";";
        return out;
    }
    std::string entries() {
        std::string out;
        for (const auto& e : items.snapshot())
            out += e.id + ":" + (e.resolvedPath ? e.resolvedPath->string() : "-") + ";";
        return out;
    }

    test::TempDir temp;
    XdgAutostartLoginItems items{temp.path() / "autostart"};
};

// A desktop entry and the program it starts ("-" for none).
TEST_F(AutostartFolder, ExecLineResolvesToTheProgramOfTheFirstArgument) {
    const std::string kHead = "[Desktop Entry]\nType=Application\n";
    // clang-format off
    const std::pair<std::string, std::string> rows[] = {
        {"# hi\n\n" + kHead + "# Exec=/no\nExec=/usr/bin/app --x %F\nExec=/usr/bin/two\n", "/usr/bin/app"},
        {"[Desktop Entry]\r\nExec=/usr/bin/app\r\n", "/usr/bin/app"},
        {kHead + "Exec=/opt/a%fb\n", "-"},
        {kHead + "Exec=app --x\n", "-"},
        {kHead + "Exec=/usr/bin/app\nHidden=true\n", "-"},
        {kHead + "Exec=\"/opt/\\\\a\"\n", "-"},
        {kHead + "Exec=\"/opt/a\"b\n", "-"},
        {kHead + "Exec=\"/opt/a b\n", "-"},
        {"Exec=/usr/bin/app\n", "-"},
        {kHead + "[Desktop Action Tray]\nExec=/usr/bin/app\n", "-"}};
    // clang-format on
    for (const auto& [text, program] : rows) {
        write("entry.desktop", text);
        EXPECT_EQ(entries(), "entry.desktop:" + program + ";") << text;
    }
}

// Insertion makes the missing folder, takes the first free name, leaves no temporary file and
// quotes the path so that it reads back unchanged.
TEST_F(AutostartFolder, InsertedEntriesQuoteThePathAndReadBackUnchanged) {
    const std::string head = "[Desktop Entry]\nType=Application\nName=Kestrova\nExec=";
    // clang-format off
    const std::string plain = "/opt/ひまわり/kestrova", percent = "/opt/100%/kestrova", quoted = "/opt/My A\"b`c\\d/k";
    ASSERT_TRUE(items.insertLast(plain));
    write("kestrova-2.desktop", "[Desktop Entry]\nExec=/usr/bin/x\n");
    ASSERT_TRUE(items.insertLast(percent) && items.insertLast(quoted));
    EXPECT_FALSE(items.insertLast("relative/kestrova"));
    EXPECT_EQ(folder(), "kestrova-1.desktop=" + head + "/opt/100%%/kestrova\n;kestrova-2.desktop=[Desktop Entry]\nExec=/usr/bin/x\n;"
                        "kestrova-3.desktop=" + head + "\"/opt/My A\\\\\"b\\\\`c\\\\\\\\d/k\"\n;kestrova.desktop=" + head + plain + "\n;");
    EXPECT_EQ(entries(), "kestrova-1.desktop:" + percent + ";kestrova-2.desktop:/usr/bin/x;kestrova-3.desktop:" + quoted + ";kestrova.desktop:" + plain + ";");
    // clang-format on
}

// Only desktop files are listed, in name order. An entry rewritten since the snapshot is no
// longer the same entry; names that lead out of the folder and entries that do not resolve are
// refused.
TEST_F(AutostartFolder, ListsDesktopFilesAndRemovesOnlyTheEntryAsItWasSeen) {
    write("other.desktop", "[Desktop Entry]\nExec=/usr/bin/other\n");
    write("kestrova.desktop", "[Desktop Entry]\nExec=/usr/bin/kestrova\n");
    write("x.desktop.bak", "[Desktop Entry]\nExec=/x\n");
    fs::create_directories(dir() / "d.desktop");
    fs::create_symlink(dir() / "missing", dir() / "0-dangling.desktop");
    const auto seen = items.snapshot();
    EXPECT_EQ(entries(), "kestrova.desktop:/usr/bin/kestrova;other.desktop:/usr/bin/other;");
    ASSERT_EQ(seen.size(), 2u);
    write("other.desktop", "[Desktop Entry]\nExec=/usr/bin/changed\n");
    write("../outside.desktop", "[Desktop Entry]\nExec=/usr/bin/kestrova\n");
    EXPECT_EQ(std::vector<bool>(
                  {items.remove(seen[1]),
                   items.remove({"../outside.desktop", fs::path("/usr/bin/kestrova")}),
                   items.remove({"kestrova.desktop", std::nullopt}), items.remove(seen[0])}),
              std::vector<bool>({false, false, false, true}));
    EXPECT_EQ(folder(),
              "0-dangling.desktop=;d.desktop=;other.desktop=[Desktop Entry]\nExec=/usr/bin/"
              "changed\n;x.desktop.bak=[Desktop Entry]\nExec=/x\n;");
    EXPECT_TRUE(fs::exists(temp.path() / "outside.desktop"));
}

}  // namespace
}  // namespace kestrova
