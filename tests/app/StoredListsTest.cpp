// The lists of the automatic system as the application keeps them: loading with pruning, the
// completion of automatic requests, and storing.
#include <gtest/gtest.h>

#include "app/StoredLists.h"
#include "platform/plist/UserDefaults.h"
#include "support/RecordingLog.h"
#include "support/TempDir.h"

namespace kestrova {
namespace {

PlistValue anime(const std::string& title, PlistValue::Dictionary extra = {}) {
    extra.emplace("title", PlistValue::string(title));
    return PlistValue::dictionary(std::move(extra));
}

class StoredListsTest : public ::testing::Test {
protected:
    // Launch: the stored values, then the lists read from them.
    void load(const PlistValue& dlst, const PlistValue& eplst,
              const PlistValue& shipped = PlistValue::dictionary()) {
        defaults.setObject(dlst, "autoDownloadList");
        defaults.setObject(eplst, "downloadedEpisodeList");
        lists.load(shipped, log);
    }
    std::optional<PlistValue> storedEpisodes() {
        UserDefaults reopened(path, log);
        reopened.load();
        return reopened.dictionaryForKey("downloadedEpisodeList");
    }

    test::TempDir dir;
    test::RecordingLog log;
    std::filesystem::path path = dir.path() / "defaults.plist";
    UserDefaults defaults{path, log};
    StoredLists lists{defaults};
    const PlistValue flags =
        PlistValue::array({PlistValue::boolean(false), PlistValue::boolean(true)});
};

TEST_F(StoredListsTest, PruningDropsTitlesNoLongerFollowed) {
    load(PlistValue::array({anime("Foo")}),
         PlistValue::dictionary({{"Foo", flags}, {"Gone", flags}}));
    const auto expected = PlistValue::dictionary({{"Foo", flags}});
    EXPECT_EQ(lists.episodeList(), expected);
    EXPECT_EQ(storedEpisodes(), expected);
}

TEST_F(StoredListsTest, PruningToNothingLeavesTheStoredRecordAlone) {
    const auto stored = PlistValue::dictionary({{"Gone", flags}});
    load(PlistValue::array({anime("Foo")}), stored);
    EXPECT_EQ(lists.episodeList(), PlistValue::dictionary());
    EXPECT_EQ(storedEpisodes(), stored);
}

TEST_F(StoredListsTest, TheShippedRecordIsNotPruned) {
    const auto shipped = PlistValue::dictionary({{"Gone", flags}});
    load(PlistValue::array({anime("Foo")}), shipped, shipped);
    EXPECT_EQ(lists.episodeList(), shipped);
}

TEST_F(StoredListsTest, StoredValuesOfTheWrongTypeReadAsAbsent) {
    load(PlistValue::string("not a list"), PlistValue::array());
    EXPECT_EQ(lists.downloadList(), std::nullopt);
    EXPECT_TRUE(log.contains("AppDelegate -> Stored autoDownloadList is not a list."));
    EXPECT_TRUE(log.contains("AppDelegate -> Stored downloadedEpisodeList is not a record."));
}

// The first record with the request's title completes it, its values replacing the request's;
// a request without a record stays as it is.
TEST_F(StoredListsTest, RequestIsCompletedFromTheFirstRecordWithItsTitle) {
    lists.setDownloadList(PlistValue::array({anime("Other", {{"time", PlistValue::integer(1)}}),
                                             anime("Foo", {{"time", PlistValue::integer(24)}}),
                                             anime("Foo", {{"time", PlistValue::integer(99)}})}));
    const auto request = [](const char* title) {
        return PlistValue::dictionary({{"URL", PlistValue::string("http://x/v")},
                                       {"title", PlistValue::string(title)},
                                       {"time", PlistValue::integer(5)}});
    };
    EXPECT_EQ(lists.completedRequest(request("Foo")).find("time")->asInteger(), 24);
    EXPECT_EQ(lists.completedRequest(request("Unknown")), request("Unknown"));
}

TEST_F(StoredListsTest, ChangesAreStored) {
    const auto list = PlistValue::array({anime("Bar")});
    lists.setDownloadList(list);
    lists.updateEpisodeList([&](const PlistValue& current, const PlistValue& downloadList) {
        EXPECT_EQ(current, PlistValue::dictionary());
        EXPECT_EQ(downloadList, list);
        return PlistValue::dictionary({{"Bar", flags}});
    });
    EXPECT_EQ(storedEpisodes(), PlistValue::dictionary({{"Bar", flags}}));
    UserDefaults reopened(path, log);
    reopened.load();
    EXPECT_EQ(reopened.arrayForKey("autoDownloadList"), list);
}

}  // namespace
}  // namespace kestrova
