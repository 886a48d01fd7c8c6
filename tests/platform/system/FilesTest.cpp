#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <vector>

#include "download/TestFiles.h"
#include "platform/system/Environment.h"
#include "platform/system/Files.h"
#include "support/ParamName.h"
#include "support/TempDir.h"

namespace kestrova {
namespace {

struct UserDirsCase {
    const char* name;
    std::string content;  // user-dirs.dirs, or "" for none
    std::string documents;
    std::string downloads;
};

class FilesUserDirsTest : public ::testing::TestWithParam<UserDirsCase> {};

TEST_P(FilesUserDirsTest, ReadsXdgUserFolders) {
    test::TempDir dir;
    const auto home = dir.path() / "home";
    if (!GetParam().content.empty()) test::writeFile(home / ".config" / "user-dirs.dirs", GetParam().content);
    const Files files(home, home / ".config");
    EXPECT_EQ(std::vector({files.documentsDirectory(), files.downloadsDirectory(), files.applicationDirectory()}),
              std::vector({home / GetParam().documents, home / GetParam().downloads, home / GetParam().documents / "Kestrova"}));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, FilesUserDirsTest, ::testing::Values(
    UserDirsCase{"NoFile", "", "Documents", "Downloads"},
    UserDirsCase{"Localized", "# comment\nXDG_DOCUMENTS_DIR=\"$HOME/ドキュメント\"\nXDG_DOWNLOAD_DIR=\"$HOME/ダウン\\\"ロード\"\n", "ドキュメント", "ダウン\"ロード"},
    UserDirsCase{"HomeItselfMeansUnset", "XDG_DOWNLOAD_DIR=\"$HOME/\"\n", "Documents", "Downloads"},
    UserDirsCase{"AbsoluteKept", "XDG_DOCUMENTS_DIR=\"/srv/docs\"\n", "/srv/docs", "Downloads"},
    UserDirsCase{"UnquotedOrRelativeIgnored", "XDG_DOWNLOAD_DIR=$HOME/x\nXDG_DOCUMENTS_DIR=\"docs\"\n", "Documents", "Downloads"}),
    test::ParamName());
// clang-format on

// Without $HOME the password database names the home folder; a relative XDG_CONFIG_HOME is
// ignored.
TEST(Files, HomeFromThePasswordDatabaseWithoutHOME) {
    const std::optional<std::string> home = Environment::value("HOME");
    const std::optional<std::string> config = Environment::value("XDG_CONFIG_HOME");
    ::unsetenv("HOME");
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    const Files files = Files::fromEnvironment();
    if (home) ::setenv("HOME", home->c_str(), 1);
    config ? ::setenv("XDG_CONFIG_HOME", config->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    const passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(files.homeDirectory(), entry->pw_dir);
    EXPECT_EQ(files.configDirectory(), std::filesystem::path(entry->pw_dir) / ".config");
}

// Moves never replace a file; failures are answered, not thrown.
TEST(Files, OperationsNeverReplaceAndAnswerFailureInsteadOfThrowing) {
    test::TempDir dir;
    const auto path = [&](const char* name) { return dir.path() / name; };
    test::writeFile(path("a"), "new");
    test::writeFile(path("b"), "old");
    EXPECT_EQ(std::vector<bool>({Files::move(path("a"), path("b")), Files::move(path("a"), path("c")),
                                 Files::exists(path("a")), Files::remove(path("missing")),
                                 Files::fileSize(path("missing")).has_value(),
                                 Files::createDirectories(path("b") / "sub"),
                                 Files::createDirectories(path("x") / "y"), Files::isDirectory(path("x") / "y")}),
              std::vector<bool>({false, true, false, false, false, false, true, true}));
    EXPECT_EQ(test::readFile(path("b")) + test::readFile(path("c")), "oldnew");
}

}  // namespace
}  // namespace kestrova
