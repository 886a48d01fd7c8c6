#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>

#include "platform/plist/PlistIO.h"
#include "platform/plist/UserDefaults.h"
#include "platform/system/Files.h"
#include "support/ParamName.h"
#include "support/RecordingLog.h"
#include "support/TempDir.h"

namespace kestrova {
namespace {

class UserDefaultsTest : public ::testing::Test {
protected:
    std::filesystem::path store() const { return dir.path() / "kestrova" / "defaults.plist"; }
    std::vector<std::filesystem::path> corruptCopies() const {
        std::vector<std::filesystem::path> found;
        for (const auto& e : std::filesystem::directory_iterator(store().parent_path())) {
            if (e.path().filename().string().rfind("defaults.plist.corrupt-", 0) == 0) {
                found.push_back(e.path());
            }
        }
        return found;
    }
    // The store as a launch reads it.
    std::unique_ptr<UserDefaults> open() {
        auto defaults = std::make_unique<UserDefaults>(store(), log);
        defaults->load();
        return defaults;
    }
    test::TempDir dir;
    test::RecordingLog log;
};

TEST_F(UserDefaultsTest, RegisteredValuesAnswerUntilWrittenAndWritesSurviveRestart) {
    {
        const auto defaults = open();
        defaults->registerDefaults({{"saveLogFile", PlistValue::boolean(true)},
                                    {"list", PlistValue::array({PlistValue::string("a")})}});
        EXPECT_TRUE(defaults->boolForKey("saveLogFile"));
        EXPECT_FALSE(Files::exists(store()));  // nothing written yet
        defaults->setBool(false, "saveLogFile");
        defaults->setObject(
            PlistValue::dictionary({{"Foo", PlistValue::array({PlistValue::boolean(false),
                                                               PlistValue::boolean(true)})}}),
            "downloadedEpisodeList");
    }
    const auto reopened = open();
    reopened->registerDefaults({{"saveLogFile", PlistValue::boolean(true)}});
    EXPECT_FALSE(reopened->boolForKey("saveLogFile"));
    auto episodes = reopened->dictionaryForKey("downloadedEpisodeList");
    ASSERT_TRUE(episodes);
    EXPECT_TRUE(episodes->find("Foo")->asArray()->at(1).isTrue());
    // Only written keys are stored.
    auto onDisk = PlistIO::readFile(store());
    ASSERT_TRUE(onDisk);
    EXPECT_EQ(onDisk->find("list"), nullptr);
}

TEST_F(UserDefaultsTest, TypedReadsRefuseOtherTypes) {
    UserDefaults defaults(store(), log);
    defaults.setObject(PlistValue::string("not a list"), "autoDownloadList");
    defaults.setObject(PlistValue::integer(1), "number");
    EXPECT_FALSE(defaults.arrayForKey("autoDownloadList"));
    EXPECT_FALSE(defaults.dictionaryForKey("autoDownloadList"));
    EXPECT_TRUE(defaults.boolForKey("number"));
    EXPECT_FALSE(defaults.boolForKey("missing"));
}

std::string nestedArrays(int depth) {
    std::string doc = "<plist><dict><key>a</key>";
    for (int i = 0; i < depth; ++i) doc += "<array>";
    for (int i = 0; i < depth; ++i) doc += "</array>";
    return doc + "</dict></plist>";
}

struct CorruptCase {
    const char* name;
    std::string content;
};

class UserDefaultsCorruptTest : public UserDefaultsTest,
                                public ::testing::WithParamInterface<CorruptCase> {};

TEST_P(UserDefaultsCorruptTest, UnreadableStoreIsKeptAsideAndRegisteredValuesAnswer) {
    Files::createDirectories(store().parent_path());
    std::ofstream(store(), std::ios::binary) << GetParam().content;

    const auto defaults = open();
    defaults->registerDefaults({{"saveLogFile", PlistValue::boolean(true)}});
    EXPECT_TRUE(defaults->boolForKey("saveLogFile"));

    auto copies = corruptCopies();
    ASSERT_EQ(copies.size(), 1u);
    std::ifstream kept(copies.front(), std::ios::binary);
    std::string keptContent((std::istreambuf_iterator<char>(kept)), {});
    EXPECT_EQ(keptContent, GetParam().content);
    EXPECT_FALSE(log.linesStartingWith("UserDefaults -> Unreadable settings moved aside").empty());

    // A later write creates a fresh store and leaves the kept copy alone.
    defaults->setBool(false, "saveLogFile");
    EXPECT_EQ(corruptCopies().size(), 1u);
    EXPECT_TRUE(PlistIO::readFile(store()));
}

INSTANTIATE_TEST_SUITE_P(
    Stores, UserDefaultsCorruptTest,
    ::testing::Values(CorruptCase{"Garbage", "this is not a property list"},
                      CorruptCase{"Truncated", "<?xml version=\"1.0\"?><plist><dict><key>a"},
                      CorruptCase{"ArrayRoot", "<plist version=\"1.0\"><array/></plist>"},
                      CorruptCase{"NestedTooDeep", nestedArrays(300)},
                      CorruptCase{"LargerThan32MiB", std::string(32 * 1024 * 1024 + 1, ' ')}),
    test::ParamName());

// What cannot be read at all may be fine for its owner: it stays where it is, is never written
// in this run, and the registered values answer.
struct UnreadableCase {
    const char* name;
    void (*make)(const std::filesystem::path& store);
    bool needsNonRoot;
};

class UserDefaultsUnreadableTest : public UserDefaultsTest,
                                   public ::testing::WithParamInterface<UnreadableCase> {};

TEST_P(UserDefaultsUnreadableTest, IsLeftInPlaceAndNeverWritten) {
    if (GetParam().needsNonRoot && ::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    Files::createDirectories(store().parent_path());
    GetParam().make(store());
    const auto before = std::filesystem::symlink_status(store()).type();

    const auto defaults = open();
    defaults->registerDefaults({{"saveLogFile", PlistValue::boolean(true)}});
    defaults->setBool(false, "saveLogFile");
    EXPECT_FALSE(defaults->boolForKey("saveLogFile"));  // kept in memory only
    EXPECT_FALSE(defaults->synchronize());

    EXPECT_EQ(std::filesystem::symlink_status(store()).type(), before);
    EXPECT_TRUE(corruptCopies().empty());
    EXPECT_EQ(log.linesStartingWith("UserDefaults -> Unreadable settings left in place").size(),
              1u);
    EXPECT_TRUE(log.linesStartingWith("UserDefaults -> Failed to Save").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Stores, UserDefaultsUnreadableTest,
    ::testing::Values(
        UnreadableCase{"Folder", [](const auto& p) { Files::createDirectories(p); }, false},
        UnreadableCase{"SymbolicLink",
                       [](const auto& p) {
                           const auto target = p.parent_path() / "elsewhere.plist";
                           std::ofstream(target) << "<plist><dict/></plist>";
                           std::filesystem::create_symlink(target, p);
                       },
                       false},
        UnreadableCase{"Pipe", [](const auto& p) { ::mkfifo(p.c_str(), 0600); }, false},
        UnreadableCase{"NoPermission",
                       [](const auto& p) {
                           std::ofstream(p) << "<plist><dict/></plist>";
                           std::filesystem::permissions(p, std::filesystem::perms::none);
                       },
                       true}),
    test::ParamName());

// A write interrupted before its rename leaves a stray temporary file; the store itself is
// still the previous complete one.
TEST_F(UserDefaultsTest, InterruptedWriteLeavesThePreviousStore) {
    open()->setBool(true, "useAutoDownloadSystem");
    std::ofstream(store().string() + ".tmp-99999") << "<?xml version=\"1.0\"?><plist><dict><key>";
    EXPECT_TRUE(open()->boolForKey("useAutoDownloadSystem"));
    EXPECT_TRUE(corruptCopies().empty());
}

TEST_F(UserDefaultsTest, UnwritableFolderFailsWithoutLosingTheValueInMemory) {
    Files::createDirectories(dir.path() / "kestrova");
    // A file where the store's folder should be makes every write fail.
    UserDefaults defaults(dir.path() / "kestrova" / "blocked" / "defaults.plist", log);
    std::ofstream(dir.path() / "kestrova" / "blocked") << "x";
    defaults.setBool(true, "saveDebugLog");
    EXPECT_TRUE(defaults.boolForKey("saveDebugLog"));
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_FALSE(log.linesStartingWith("UserDefaults -> Failed to Save").empty());
}

}  // namespace
}  // namespace kestrova
