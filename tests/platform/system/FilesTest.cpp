#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

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
    if (!GetParam().content.empty()) {
        test::writeFile(home / ".config" / "user-dirs.dirs", GetParam().content);
    }
    const Files files(home, home / ".config");
    EXPECT_EQ(files.documentsDirectory(), home / GetParam().documents);
    EXPECT_EQ(files.downloadsDirectory(), home / GetParam().downloads);
    EXPECT_EQ(files.applicationDirectory(), home / GetParam().documents / "Kestrova");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FilesUserDirsTest,
    ::testing::Values(UserDirsCase{"NoFile", "", "Documents", "Downloads"},
                      UserDirsCase{"Localized",
                                   "# comment\nXDG_DOCUMENTS_DIR=\"$HOME/ドキュメント\"\n"
                                   "XDG_DOWNLOAD_DIR=\"$HOME/ダウン\\\"ロード\"\n",
                                   "ドキュメント", "ダウン\"ロード"},
                      UserDirsCase{"HomeItselfMeansUnset", "XDG_DOWNLOAD_DIR=\"$HOME/\"\n",
                                   "Documents", "Downloads"},
                      UserDirsCase{"AbsoluteKept", "XDG_DOCUMENTS_DIR=\"/srv/docs\"\n", "/srv/docs",
                                   "Downloads"},
                      UserDirsCase{"UnquotedOrRelativeIgnored",
                                   "XDG_DOWNLOAD_DIR=$HOME/x\nXDG_DOCUMENTS_DIR=\"docs\"\n",
                                   "Documents", "Downloads"}),
    test::ParamName());

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
    test::writeFile(dir.path() / "a", "new");
    test::writeFile(dir.path() / "b", "old");
    EXPECT_FALSE(Files::move(dir.path() / "a", dir.path() / "b"));
    EXPECT_EQ(test::readFile(dir.path() / "b"), "old");
    EXPECT_TRUE(Files::move(dir.path() / "a", dir.path() / "c"));
    EXPECT_FALSE(Files::exists(dir.path() / "a"));
    EXPECT_EQ(Files::fileSize(dir.path() / "c"), 3);
    EXPECT_FALSE(Files::remove(dir.path() / "missing") || Files::fileSize(dir.path() / "missing"));
    EXPECT_FALSE(Files::createDirectories(dir.path() / "b" / "sub"));
    EXPECT_TRUE(Files::createDirectories(dir.path() / "x" / "y"));
    EXPECT_TRUE(Files::isDirectory(dir.path() / "x" / "y"));
}

}  // namespace
}  // namespace kestrova
