// The settings store: registered values, atomic writes, and what it does with a store it cannot
// use (kept aside when unreadable as settings, left alone when it cannot be read at all).
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

namespace fs = std::filesystem;

class UserDefaultsTest : public ::testing::Test {
protected:
    fs::path store() const { return dir.path() / "kestrova" / "defaults.plist"; }
    std::size_t corruptCopies() const {
        std::size_t found = 0;
        for (const auto& e : fs::directory_iterator(store().parent_path()))
            found += e.path().filename().string().starts_with("defaults.plist.corrupt-");
        return found;
    }
    // The store as a launch reads it, with one registered value.
    std::unique_ptr<UserDefaults> open() {
        auto defaults = std::make_unique<UserDefaults>(store(), log);
        defaults->load();
        defaults->registerDefaults({{"saveLogFile", PlistValue::boolean(true)}});
        return defaults;
    }
    test::TempDir dir;
    test::RecordingLog log;
};

// Registered values answer until a key is written; only written keys are stored and read back;
// typed reads refuse other types; a stray temporary file of an interrupted write is no store.
TEST_F(UserDefaultsTest, WritesSurviveARestartRegisteredValuesDoNot) {
    const auto flags = PlistValue::array({PlistValue::boolean(false), PlistValue::boolean(true)});
    const auto list = PlistValue::dictionary({{"Foo", flags}});
    {
        const auto defaults = open();
        EXPECT_TRUE(defaults->boolForKey("saveLogFile"));
        EXPECT_FALSE(Files::exists(store()));
        defaults->setBool(false, "saveLogFile");
        defaults->setObject(list, "downloadedEpisodeList");
        defaults->setObject(PlistValue::integer(1), "number");
    }
    std::ofstream(store().string() + ".tmp-99999") << "<?xml version=\"1.0\"?><plist><dict><key>";
    const auto reopened = open();
    EXPECT_EQ(reopened->dictionaryForKey("downloadedEpisodeList"), list);
    EXPECT_FALSE(reopened->arrayForKey("downloadedEpisodeList"));
    EXPECT_EQ(std::vector<bool>({reopened->boolForKey("saveLogFile"),
                                 reopened->boolForKey("number"), reopened->boolForKey("missing")}),
              std::vector<bool>({false, true, false}));
    EXPECT_EQ(corruptCopies(), 0u);
}

void write(const fs::path& store, const std::string& text) { std::ofstream(store) << text; }

struct StoreCase {
    const char* name;
    void (*make)(const fs::path& store);
    bool keptAside;  // moved to defaults.plist.corrupt-<time>; else left in place, unwritten
};

class UserDefaultsStoreTest : public UserDefaultsTest,
                              public ::testing::WithParamInterface<StoreCase> {};

TEST_P(UserDefaultsStoreTest, UnusableStoreIsKeptAsideOrLeftAlone) {
    Files::createDirectories(store().parent_path());
    GetParam().make(store());
    if (::geteuid() == 0 && fs::status(store()).permissions() == fs::perms::none)
        GTEST_SKIP() << "root reads every file";
    const auto type = fs::symlink_status(store()).type();
    const auto defaults = open();
    EXPECT_TRUE(defaults->boolForKey("saveLogFile"));  // the registered value answers
    defaults->setBool(false, "saveLogFile");
    EXPECT_EQ(defaults->synchronize(), GetParam().keptAside);
    EXPECT_FALSE(defaults->boolForKey("saveLogFile"));  // kept in memory in any case
    EXPECT_EQ(corruptCopies(), GetParam().keptAside ? 1u : 0u);
    EXPECT_EQ(log.linesStartingWith(GetParam().keptAside
                                        ? "UserDefaults -> Unreadable settings moved aside"
                                        : "UserDefaults -> Unreadable settings left in place")
                  .size(),
              1u);
    // A fresh store beside the kept copy, or the unreadable one as it was.
    EXPECT_TRUE(GetParam().keptAside ? PlistIO::readFile(store()).has_value()
                                     : fs::symlink_status(store()).type() == type);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Stores, UserDefaultsStoreTest, ::testing::Values(
    StoreCase{"Garbage", [](const fs::path& p) { write(p, "not a property list"); }, true},
    StoreCase{"ArrayRoot", [](const fs::path& p) { write(p, "<plist><array/></plist>"); }, true},
    StoreCase{"SymbolicLink", [](const fs::path& p) { write(p.string() + ".real", "<plist><dict/></plist>"), fs::create_symlink(p.string() + ".real", p); }, false},
    StoreCase{"Pipe", [](const fs::path& p) { ::mkfifo(p.c_str(), 0600); }, false},
    StoreCase{"NoPermission", [](const fs::path& p) { write(p, "<plist><dict/></plist>"), fs::permissions(p, fs::perms::none); }, false}),
    test::ParamName());
// clang-format on

}  // namespace
}  // namespace kestrova
