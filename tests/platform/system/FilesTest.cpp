#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <tuple>
#include <vector>

#include "download/TestFiles.h"
#include "platform/system/Environment.h"
#include "platform/system/Files.h"
#include "support/TempDir.h"

namespace kestrova {
namespace {

// user-dirs.dirs ("" for none), then the documents and downloads folders it names under home.
TEST(Files, ReadsXdgUserFolders) {
    // clang-format off
    const std::tuple<std::string, std::string, std::string> rows[] = {
        {"", "Documents", "Downloads"},
        {"# comment\nXDG_DOCUMENTS_DIR=\"$HOME/ドキュメント\"\nXDG_DOWNLOAD_DIR=\"$HOME/ダウン\\\"ロード\"\n", "ドキュメント", "ダウン\"ロード"},
        {"XDG_DOWNLOAD_DIR=\"$HOME/\"\n", "Documents", "Downloads"},
        {"XDG_DOCUMENTS_DIR=\"/srv/docs\"\n", "/srv/docs", "Downloads"},
        {"XDG_DOWNLOAD_DIR=$HOME/x\nXDG_DOCUMENTS_DIR=\"docs\"\n", "Documents", "Downloads"}};
    // clang-format on
    for (const auto& [content, documents, downloads] : rows) {
        test::TempDir dir;
        const auto home = dir.path() / "home";
        if (!content.empty()) test::writeFile(home / ".config" / "user-dirs.dirs", content);
        const Files files(home, home / ".config");
        EXPECT_EQ(std::vector({files.documentsDirectory(), files.downloadsDirectory(),
                               files.applicationDirectory()}),
                  std::vector({home / documents, home / downloads, home / documents / "Kestrova"}))
            << content;
    }
}

// Without $HOME the password database names the home; a relative XDG_CONFIG_HOME is ignored.
TEST(Files, HomeFromThePasswordDatabaseWithoutHOME) {
    const auto home = Environment::value("HOME"), config = Environment::value("XDG_CONFIG_HOME");
    ::unsetenv("HOME"), ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    const Files files = Files::fromEnvironment();
    home ? ::setenv("HOME", home->c_str(), 1) : ::unsetenv("HOME");
    config ? ::setenv("XDG_CONFIG_HOME", config->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(files.configDirectory(), std::string(::getpwuid(::getuid())->pw_dir) + "/.config");
}

// Moves never replace a file; failures are answered, not thrown.
TEST(Files, OperationsNeverReplaceAndAnswerFailureInsteadOfThrowing) {
    test::TempDir dir;
    const auto path = [&](const char* name) { return dir.path() / name; };
    test::writeFile(path("a"), "new");
    test::writeFile(path("b"), "old");
    EXPECT_EQ(std::vector<bool>(
                  {Files::move(path("a"), path("b")), Files::move(path("a"), path("c")),
                   Files::exists(path("a")), Files::remove(path("missing")),
                   Files::fileSize(path("missing")).has_value(),
                   Files::createDirectories(path("b") / "sub"),
                   Files::createDirectories(path("x") / "y"), Files::isDirectory(path("x") / "y")}),
              std::vector<bool>({false, true, false, false, false, false, true, true}));
    EXPECT_EQ(test::readFile(path("b")) + test::readFile(path("c")), "oldnew");
}

}  // namespace
}  // namespace kestrova
