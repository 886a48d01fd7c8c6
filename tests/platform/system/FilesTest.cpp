#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>

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
    const auto config = home / ".config";
    Files::createDirectories(config);
    if (!GetParam().content.empty()) std::ofstream(config / "user-dirs.dirs") << GetParam().content;
    const Files files(home, config);
    EXPECT_EQ(files.documentsDirectory(), home / GetParam().documents);
    EXPECT_EQ(files.downloadsDirectory(), home / GetParam().downloads);
    EXPECT_EQ(files.applicationDirectory(), home / GetParam().documents / "Kestrova");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FilesUserDirsTest,
    ::testing::Values(
        UserDirsCase{"NoFile", "", "Documents", "Downloads"},
        UserDirsCase{"Localized",
                     "# comment\nXDG_DOCUMENTS_DIR=\"$HOME/ドキュメント\"\n"
                     "XDG_DOWNLOAD_DIR=\"$HOME/ダウンロード\"\n",
                     "ドキュメント", "ダウンロード"},
        UserDirsCase{"OnlyDownloads", "XDG_DOWNLOAD_DIR=\"$HOME/dl\"\n", "Documents", "dl"},
        UserDirsCase{"HomeItselfMeansUnset", "XDG_DOWNLOAD_DIR=\"$HOME/\"\n", "Documents",
                     "Downloads"},
        UserDirsCase{"Unquoted", "XDG_DOWNLOAD_DIR=$HOME/x\n", "Documents", "Downloads"}),
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

TEST(Files, MoveNeverReplacesAnExistingFile) {
    test::TempDir dir;
    std::ofstream(dir.path() / "a") << "new";
    std::ofstream(dir.path() / "b") << "old";
    EXPECT_FALSE(Files::move(dir.path() / "a", dir.path() / "b"));
    std::ifstream b(dir.path() / "b");
    std::string content;
    b >> content;
    EXPECT_EQ(content, "old");
    EXPECT_TRUE(Files::move(dir.path() / "a", dir.path() / "c"));
    EXPECT_FALSE(Files::exists(dir.path() / "a"));
    EXPECT_EQ(Files::fileSize(dir.path() / "c"), 3);
}

TEST(Files, OperationsAnswerFailureInsteadOfThrowing) {
    test::TempDir dir;
    EXPECT_FALSE(Files::remove(dir.path() / "missing"));
    EXPECT_FALSE(Files::fileSize(dir.path() / "missing"));
    std::ofstream(dir.path() / "file") << "x";
    EXPECT_FALSE(Files::createDirectories(dir.path() / "file" / "sub"));
    EXPECT_TRUE(Files::createDirectories(dir.path() / "a" / "b"));
    EXPECT_TRUE(Files::isDirectory(dir.path() / "a" / "b"));
}

}  // namespace
}  // namespace kestrova
