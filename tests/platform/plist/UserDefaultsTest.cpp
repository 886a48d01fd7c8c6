// The settings store: registered values, atomic writes, and what it does with a store it cannot
// use (kept aside when unreadable as settings, left alone when it cannot be read at all).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <vector>

#include "platform/plist/PlistIO.h"
#include "platform/plist/UserDefaults.h"
#include "platform/system/Files.h"
#include "support/RecordingLog.h"
#include "support/TempDir.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

// The store as a launch reads it, with one registered value.
std::unique_ptr<UserDefaults> open(const fs::path& store, SystemLog& log) {
    auto defaults = std::make_unique<UserDefaults>(store, log);
    defaults->load();
    defaults->registerDefaults({{"saveLogFile", PlistValue::boolean(true)}});
    return defaults;
}

std::size_t keptCopies(const fs::path& store) {
    std::size_t found = 0;
    for (const auto& e : fs::directory_iterator(store.parent_path()))
        found += e.path().filename().string().starts_with("defaults.plist.corrupt-");
    return found;
}

void write(const fs::path& store, const std::string& text) { std::ofstream(store) << text; }

// Registered values answer until a key is written; only written keys are stored and read back;
// typed reads refuse other types; a stray temporary file of an interrupted write is no store.
TEST(UserDefaults, WritesSurviveARestartRegisteredValuesDoNot) {
    const test::TempDir dir;
    test::RecordingLog log;
    const fs::path store = dir.path() / "defaults.plist";
    const auto list =
        PlistValue::dictionary({{"Foo", PlistValue::array({PlistValue::boolean(true)})}});
    {
        const auto defaults = open(store, log);
        EXPECT_TRUE(defaults->boolForKey("saveLogFile") && !Files::exists(store));
        defaults->setBool(false, "saveLogFile");
        defaults->setObject(list, "downloadedEpisodeList");
        defaults->setObject(PlistValue::integer(1), "number");
    }
    write(store.string() + ".tmp-99999", "<?xml version=\"1.0\"?><plist><dict><key>");
    const auto reopened = open(store, log);
    EXPECT_EQ(reopened->dictionaryForKey("downloadedEpisodeList"), list);
    EXPECT_FALSE(reopened->arrayForKey("downloadedEpisodeList"));
    EXPECT_EQ(std::vector<bool>({reopened->boolForKey("saveLogFile"),
                                 reopened->boolForKey("number"), reopened->boolForKey("missing")}),
              std::vector<bool>({false, true, false}));
    EXPECT_EQ(keptCopies(store), 0u);
}

// A store unreadable as settings is moved to defaults.plist.corrupt-<time> and a fresh one
// written; one that cannot be read at all is left in place, unwritten. The registered value
// answers and a new one is kept in memory in either case.
TEST(UserDefaults, UnusableStoreIsKeptAsideOrLeftAlone) {
    // clang-format off
    const std::tuple<const char*, void (*)(const fs::path&), bool> rows[] = {
        {"Garbage", [](const fs::path& p) { write(p, "not a property list"); }, true},
        {"ArrayRoot", [](const fs::path& p) { write(p, "<plist><array/></plist>"); }, true},
        {"SymbolicLink", [](const fs::path& p) { write(p.string() + ".real", "<plist><dict/></plist>"), fs::create_symlink(p.string() + ".real", p); }, false},
        {"Pipe", [](const fs::path& p) { ::mkfifo(p.c_str(), 0600); }, false},
        {"NoPermission", [](const fs::path& p) { write(p, "<plist><dict/></plist>"), fs::permissions(p, fs::perms::none); }, false}};
    // clang-format on
    for (const auto& [name, make, keptAside] : rows) {
        const test::TempDir dir;
        test::RecordingLog log;
        const fs::path store = dir.path() / "defaults.plist";
        make(store);
        if (::geteuid() == 0 && fs::status(store).permissions() == fs::perms::none)
            continue;  // root reads every file
        const auto type = fs::symlink_status(store).type();
        const auto defaults = open(store, log);
        EXPECT_TRUE(defaults->boolForKey("saveLogFile")) << name;
        defaults->setBool(false, "saveLogFile");
        EXPECT_EQ(defaults->synchronize(), keptAside) << name;
        EXPECT_FALSE(defaults->boolForKey("saveLogFile")) << name;
        const char* line = keptAside ? "UserDefaults -> Unreadable settings moved aside"
                                     : "UserDefaults -> Unreadable settings left in place";
        EXPECT_EQ(log.linesStartingWith(line).size(), 1u) << name;
        EXPECT_EQ(keptCopies(store), keptAside ? 1u : 0u) << name;
        EXPECT_TRUE(keptAside ? PlistIO::readFile(store).has_value()
                              : fs::symlink_status(store).type() == type)
            << name;
    }
}

}  // namespace
}  // namespace kestrova
