// The download list's records, the merge of a fetched list with the stored one, and the episode
// record of downloaded episodes.
#include <gtest/gtest.h>

#include "autodownload/AnimeRecord.h"
#include "autodownload/AutoDownloadSystem.h"
#include "support/TestPlatform.h"

namespace kestrova {
namespace {

const PlistValue kTrue = PlistValue::boolean(true), kFalse = PlistValue::boolean(false);

// A record of the title with the status and the "time"; changed: one more entry set.
PlistValue record(const std::string& title, std::optional<PlistValue> status = {}, int time = 24,
                  const std::string& changed = "", PlistValue value = {}) {
    PlistValue::Dictionary entries{{"title", PlistValue::string(title)},
                                   {"keyword", PlistValue::array({PlistValue::string(title)})},
                                   {"time", PlistValue::integer(time)}};
    if (status) entries.insert_or_assign("status", *status);
    if (!changed.empty()) entries.insert_or_assign(changed, value);
    return PlistValue::dictionary(std::move(entries));
}
PlistValue list(const std::vector<PlistValue>& records) { return PlistValue::array(records); }

TEST(AnimeRecordTest, SaysWhyARecordCannotBeUsed) {
    const std::tuple<const char*, PlistValue, std::optional<std::string>> rows[] = {
        {"Usable", record("Foo"), {}},
        {"WithoutKeyword", PlistValue::dictionary({{"title", PlistValue::string("Foo")}}), {}},
        {"NotADictionary", list({}), "not a dictionary"},
        {"WithoutTitle", PlistValue::dictionary(), "no \"title\" text"},
        {"TitleNotText", record("Foo", {}, 1, "title", kTrue), "no \"title\" text"},
        {"KeywordNotAList", record("Foo", {}, 1, "keyword", kTrue),
         "\"keyword\" is not a list (Foo)"},
        {"KeywordHoldsNoText", record("Foo", {}, 1, "keyword", list({kTrue})),
         "\"keyword\" holds something other than text (Foo)"},
        {"CarriesURL", record("Foo", {}, 1, "URL", kTrue), "carries \"URL\" or \"file\" (Foo)"},
        {"CarriesFile", record("F\n", {}, 1, "file", kTrue), "carries \"URL\" or \"file\" (F\\n)"},
    };
    for (const auto& [name, row, problem] : rows)
        EXPECT_EQ(AnimeRecord::problem(row), problem) << name;
}

// The server's records in its order, each with the status of the first stored record of its
// title: a stored record without one removes it.
TEST(DownloadListTest, MergeKeepsTheUsersStatusAndTheServersEverythingElse) {
    const PlistValue fetched = list({record("Bar", kTrue), record("Foo", kTrue, 30)});
    EXPECT_EQ(AutoDownloadSystem::mergeList(fetched, std::nullopt), fetched);
    const std::tuple<const char*, PlistValue, PlistValue> rows[] = {
        {"StoredStatusWins",
         list({PlistValue::string("Foo"), record("Old"), record("Foo", kFalse)}),
         list({record("Bar", kTrue), record("Foo", kFalse, 30)})},
        {"StoredWithoutStatus", list({record("Foo")}),
         list({record("Bar", kTrue), record("Foo", {}, 30)})},
        {"FirstStoredRecord", list({record("Foo", PlistValue::integer(0)), record("Foo", kFalse)}),
         list({record("Bar", kTrue), record("Foo", PlistValue::integer(0), 30)})},
    };
    for (const auto& [name, stored, merged] : rows) {
        EXPECT_TRUE(AutoDownloadSystem::mergeList(fetched, stored) == merged) << name;
    }
}

// Flags of "t" (true) and "f" (false).
PlistValue flags(const std::string& marks) {
    PlistValue::Array items;
    for (const char m : marks) items.push_back(PlistValue::boolean(m == 't'));
    return PlistValue::array(std::move(items));
}

// "<title> (NN)" marks episode NN of the title; a name without " (" or a number outside 0 to
// 9999 is logged and changes nothing.
TEST(DownloadListTest, EpisodeRecordMarksTheEpisodeOrRefusesTheName) {
    const PlistValue none = PlistValue::dictionary();
    const PlistValue fifth = PlistValue::dictionary({{"Foo", flags("ffffft")}});
    const std::tuple<const char*, PlistValue, std::string> rows[] = {
        {"Foo (05)", none, "ffffft"},
        {"Foo (03)", fifth, "ffftft"},
        {"Foo (06)", fifth, "ffffftt"},
        {"Foo (TV) (00)", none, "t"},
        {"Foo (02)", PlistValue::dictionary({{"Foo", PlistValue::string("x")}}), "fft"},
        {"Foo (9999)", none, std::string(9999, 'f') + "t"},
        {"Foo (-1)", fifth, ""},
        {"Foo (10000)", fifth, ""},
        {"Foo 05", fifth, ""},
    };
    for (const auto& [file, before, after] : rows) {
        test::TestPlatform platform;
        PlistValue expected = before;
        if (!after.empty()) expected.asDictionary()->insert_or_assign("Foo", flags(after));
        EXPECT_TRUE(
            AutoDownloadSystem(platform.services, false).eplstManager(file, before, list({})) ==
            expected)
            << file;
        EXPECT_EQ(platform.log.contains(
                      std::string("AutoDownloadSystem -> Failed to Record Episode: ") + file),
                  after.empty())
            << file;
    }
}

}  // namespace
}  // namespace kestrova
