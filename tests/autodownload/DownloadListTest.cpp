// The download list merge, the recording of downloaded episodes and the checks on records.
#include <gtest/gtest.h>

#include "autodownload/AnimeRecord.h"
#include "autodownload/AutoDownloadSystem.h"
#include "support/ParamName.h"
#include "support/TestPlatform.h"

namespace kestrova {
namespace {

PlistValue flags(std::initializer_list<bool> values) {
    PlistValue::Array items;
    for (const bool v : values) items.push_back(PlistValue::boolean(v));
    return PlistValue::array(std::move(items));
}

PlistValue record(const std::string& title, std::optional<PlistValue> status,
                  std::int64_t time = 24) {
    PlistValue::Dictionary entries{{"title", PlistValue::string(title)},
                                   {"keyword", PlistValue::array({PlistValue::string(title)})},
                                   {"time", PlistValue::integer(time)}};
    if (status) entries.emplace("status", *status);
    return PlistValue::dictionary(std::move(entries));
}

const PlistValue kTrue = PlistValue::boolean(true);
const PlistValue kFalse = PlistValue::boolean(false);

struct MergeCase {
    const char* name;
    PlistValue fetched;
    std::optional<PlistValue> stored;
    PlistValue merged;
};

class MergeTest : public ::testing::TestWithParam<MergeCase> {};

TEST_P(MergeTest, KeepsTheUsersStatusAndTheServersEverythingElse) {
    EXPECT_EQ(AutoDownloadSystem::mergeList(GetParam().fetched, GetParam().stored),
              GetParam().merged);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, MergeTest,
    ::testing::Values(
        MergeCase{"NoStoredList", PlistValue::array({record("Foo", kTrue)}), std::nullopt,
                  PlistValue::array({record("Foo", kTrue)})},
        MergeCase{"EmptyStoredList", PlistValue::array({record("Foo", kTrue)}), PlistValue::array(),
                  PlistValue::array({record("Foo", kTrue)})},
        MergeCase{"StoredFalseWins", PlistValue::array({record("Foo", kTrue, 30)}),
                  PlistValue::array({record("Foo", kFalse, 24)}),
                  PlistValue::array({record("Foo", kFalse, 30)})},
        MergeCase{"StoredWithoutStatusRemovesIt", PlistValue::array({record("Foo", kTrue)}),
                  PlistValue::array({record("Foo", std::nullopt)}),
                  PlistValue::array({record("Foo", std::nullopt)})},
        MergeCase{"FirstOfTwoStoredTitlesIsUsed", PlistValue::array({record("Foo", kTrue)}),
                  PlistValue::array({record("Foo", PlistValue::integer(0)), record("Foo", kFalse)}),
                  PlistValue::array({record("Foo", PlistValue::integer(0))})},
        MergeCase{"NewTitleKeepsServersStatus",
                  PlistValue::array({record("Foo", kFalse), record("Bar", kTrue)}),
                  PlistValue::array({record("Foo", kTrue)}),
                  PlistValue::array({record("Foo", kTrue), record("Bar", kTrue)})},
        MergeCase{"DroppedTitleIsGoneAndServerOrderKept",
                  PlistValue::array({record("Bar", kTrue), record("Foo", kTrue)}),
                  PlistValue::array({record("Old", kFalse), record("Foo", kFalse),
                                     record("Bar", kFalse)}),
                  PlistValue::array({record("Bar", kFalse), record("Foo", kFalse)})},
        MergeCase{"TitlesMatchCaseSensitively", PlistValue::array({record("Foo", kTrue)}),
                  PlistValue::array({record("foo", kFalse)}),
                  PlistValue::array({record("Foo", kTrue)})},
        MergeCase{"StoredElementsThatAreNoRecordsAreIgnored",
                  PlistValue::array({record("Foo", kTrue)}),
                  PlistValue::array({PlistValue::string("Foo"), record("Foo", kFalse)}),
                  PlistValue::array({record("Foo", kFalse)})}),
    test::ParamName());

class EpisodeRecordTest : public ::testing::Test {
protected:
    test::TestPlatform platform;
    AutoDownloadSystem system{platform.services, false};
    const PlistValue list = PlistValue::array();
};

TEST_F(EpisodeRecordTest, RecordsEpisodesAndGrowsTheFlagsWithoutHoles) {
    const PlistValue empty = PlistValue::dictionary();
    const PlistValue fifth = system.eplstManager("Foo (05)", empty, list);
    EXPECT_EQ(fifth,
              PlistValue::dictionary({{"Foo", flags({false, false, false, false, false, true})}}));
    EXPECT_EQ(empty, PlistValue::dictionary());  // the record handed in is not changed
    const PlistValue third = system.eplstManager("Foo (03)", fifth, list);
    EXPECT_EQ(*third.find("Foo"), flags({false, false, false, true, false, true}));
    const PlistValue sixth = system.eplstManager("Foo (06)", third, list);
    EXPECT_EQ(*sixth.find("Foo"), flags({false, false, false, true, false, true, true}));
    EXPECT_EQ(system.eplstManager("Foo (06)", sixth, list), sixth);
    // Other titles are untouched.
    const PlistValue both = system.eplstManager("Bar (01)", sixth, list);
    EXPECT_EQ(*both.find("Bar"), flags({false, true}));
    EXPECT_EQ(*both.find("Foo"), *sixth.find("Foo"));
}

TEST_F(EpisodeRecordTest, TitleIsTheTextBeforeTheFirstParenthesis) {
    const PlistValue result = system.eplstManager("Foo (TV) (05)", PlistValue::dictionary(), list);
    EXPECT_EQ(result, PlistValue::dictionary({{"Foo", flags({true})}}));
}

TEST_F(EpisodeRecordTest, EntryThatIsNoListStartsAfresh) {
    const PlistValue broken = PlistValue::dictionary({{"Foo", PlistValue::string("x")}});
    EXPECT_EQ(*system.eplstManager("Foo (02)", broken, list).find("Foo"),
              flags({false, false, true}));
}

TEST_F(EpisodeRecordTest, NumbersThatCannotIndexFlagsAreLoggedAndChangeNothing) {
    const PlistValue start = PlistValue::dictionary({{"Foo", flags({false, true})}});
    for (const std::string name :
         {"Foo (-1)", "Foo (10000)", "Foo (2147483647)", "Foo 05", "Foo(05)"}) {
        EXPECT_EQ(system.eplstManager(name, start, list), start) << name;
        EXPECT_TRUE(
            platform.log.contains("AutoDownloadSystem -> Failed to Record Episode: " + name))
            << name;
    }
    EXPECT_EQ(system.eplstManager("Foo (9999)", start, list).find("Foo")->asArray()->size(),
              10000u);
}

struct RecordCase {
    const char* name;
    PlistValue record;
    bool usable;
};

class AnimeRecordTest : public ::testing::TestWithParam<RecordCase> {};

TEST_P(AnimeRecordTest, TellsUsableRecordsFromBrokenOnes) {
    EXPECT_EQ(!AnimeRecord::problem(GetParam().record).has_value(), GetParam().usable);
}

PlistValue with(PlistValue base, const std::string& key, PlistValue value) {
    base.asDictionary()->insert_or_assign(key, std::move(value));
    return base;
}

INSTANTIATE_TEST_SUITE_P(
    Records, AnimeRecordTest,
    ::testing::Values(
        RecordCase{"Complete", record("Foo", kTrue), true},
        RecordCase{"WithoutKeyword", PlistValue::dictionary({{"title", PlistValue::string("Foo")}}),
                   true},
        RecordCase{"NotADictionary", PlistValue::array(), false},
        RecordCase{"WithoutTitle", PlistValue::dictionary(), false},
        RecordCase{"TitleNotText", with(record("Foo", kTrue), "title", PlistValue::integer(1)),
                   false},
        RecordCase{"KeywordNotAList",
                   with(record("Foo", kTrue), "keyword", PlistValue::string("Foo")), false},
        RecordCase{
            "KeywordHoldsANumber",
            with(record("Foo", kTrue), "keyword", PlistValue::array({PlistValue::integer(1)})),
            false},
        RecordCase{"CarriesURL", with(record("Foo", kTrue), "URL", PlistValue::string("http://x/")),
                   false},
        RecordCase{"CarriesFile", with(record("Foo", kTrue), "file", PlistValue::string("../../x")),
                   false}),
    test::ParamName());

}  // namespace
}  // namespace kestrova
