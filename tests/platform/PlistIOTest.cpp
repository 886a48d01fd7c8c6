// Property lists against files written by an independent implementation (Python's plistlib,
// see scripts/make-plist-fixtures.py), in both the XML and the binary format.
#include <gtest/gtest.h>

#include "platform/PlistIO.h"
#include "platform/PlistValue.h"
#include "support/ParamName.h"

namespace kestrova {
namespace {

const std::string kDataDir = KESTROVA_TEST_DATA_DIR;

class PlistFixtureTest : public ::testing::TestWithParam<const char*> {};

TEST_P(PlistFixtureTest, ReadsEveryTypeWrittenByPlistlib) {
    auto doc = PlistIO::readFile(kDataDir + "/" + GetParam());
    ASSERT_TRUE(doc.has_value());
    ASSERT_TRUE(doc->isDictionary());
    EXPECT_EQ(doc->stringFor("title"), "ソラノカナタ");
    EXPECT_EQ(doc->find("negative")->asInteger(), -42);
    EXPECT_EQ(doc->find("big")->asInteger(), 9007199254740993);
    EXPECT_EQ(doc->find("pi")->asReal(), 3.25);
    EXPECT_TRUE(doc->find("yes")->isTrue());
    EXPECT_TRUE(doc->find("no")->isFalse());
    // plistlib writes 1 as an integer: it must never read as the boolean true.
    EXPECT_FALSE(doc->find("one")->isTrue());
    EXPECT_NE(*doc->find("one"), PlistValue::boolean(true));
    // 2026-12-06 08:05:56 UTC.
    EXPECT_DOUBLE_EQ(doc->find("when")->asDate()->secondsSince1970, 1796544356.0);
    EXPECT_EQ(*doc->find("blob")->asData(), (PlistValue::Data{0x00, 0x01, 0xfe, 0x4b}));
    const auto* list = doc->find("list")->asArray();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->size(), 3u);
    EXPECT_TRUE((*list)[2].find("nested")->asArray()->front().isTrue());
    EXPECT_TRUE(doc->find("empty")->asDictionary()->empty());
}

INSTANTIATE_TEST_SUITE_P(Formats, PlistFixtureTest,
                         ::testing::Values("sample.xml.plist", "sample.bin.plist"));

TEST(PlistIO, XmlRoundTripKeepsNegativeIntegersTextAndDeepEquality) {
    PlistValue record = PlistValue::dictionary({
        {"title", PlistValue::string("劇場版 \"ふー\" & <bar>")},
        {"time", PlistValue::integer(-7)},
        {"min", PlistValue::integer(INT64_MIN)},
        {"status", PlistValue::boolean(false)},
        {"keyword", PlistValue::array({PlistValue::string("ふー"), PlistValue::string("")})},
        {"when", PlistValue::date({1796544356.0})},  // XML keeps whole seconds
        {"ratio", PlistValue::real(-0.125)},
    });
    auto xml = PlistIO::toXml(PlistValue::array({record}));
    ASSERT_TRUE(xml.has_value());
    auto back = PlistIO::parse(*xml);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, PlistValue::array({record}));
}

struct BadInput {
    const char* name;
    std::string bytes;
};

class PlistBadInputTest : public ::testing::TestWithParam<BadInput> {};

TEST_P(PlistBadInputTest, GivesNothing) { EXPECT_FALSE(PlistIO::parse(GetParam().bytes)); }

INSTANTIATE_TEST_SUITE_P(
    Rejected, PlistBadInputTest,
    ::testing::Values(BadInput{"Empty", ""}, BadInput{"Html", "<html><body>404</body></html>"},
                      BadInput{"Truncated", "<?xml version=\"1.0\"?><plist><array><string>a"},
                      BadInput{"TruncatedBinary", std::string("bplist00\xd1\x01\x02", 11)},
                      BadInput{"Garbage", std::string(64, '\xff')}),
    test::ParamName());

TEST(PlistIO, MissingFileGivesNothing) {
    EXPECT_FALSE(PlistIO::readFile("/nonexistent/kestrova.plist"));
}

TEST(PlistValue, EqualityIsDeepAndTypeStrict) {
    EXPECT_NE(PlistValue::boolean(true), PlistValue::integer(1));
    EXPECT_NE(PlistValue::boolean(false), PlistValue::integer(0));
    EXPECT_NE(PlistValue::integer(1), PlistValue::real(1.0));
    auto a = PlistValue::dictionary({{"k", PlistValue::array({PlistValue::integer(1)})}});
    auto b = PlistValue::dictionary({{"k", PlistValue::array({PlistValue::integer(1)})}});
    EXPECT_EQ(a, b);
    b.asDictionary()->at("k").asArray()->push_back(PlistValue::integer(2));
    EXPECT_NE(a, b);
}

}  // namespace
}  // namespace kestrova
