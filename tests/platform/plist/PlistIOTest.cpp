// Property lists against files written by an independent implementation (Python's plistlib,
// see scripts/make-plist-fixtures.py), in both the XML and the binary format, and against
// documents built here, hostile ones mostly, that must be read or refused with their reason.
#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/plist/PlistIO.h"
#include "platform/plist/PlistValue.h"
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

std::string repeat(std::string_view text, std::size_t times) {
    std::string out;
    out.reserve(text.size() * times);
    while (times-- > 0) out += text;
    return out;
}

std::string nestedXml(std::size_t levels) {
    return repeat("<array>", levels) + "<true/>" + repeat("</array>", levels);
}

std::string bigEndian(std::uint64_t value, std::size_t width) {
    std::string out(width, '\0');
    for (std::size_t i = width; i-- > 0; value >>= 8) out[i] = static_cast<char>(value & 0xFF);
    return out;
}

// A binary object's marker with its element count, extended past 14.
std::string counted(unsigned type, std::size_t count) {
    if (count < 15) return std::string(1, static_cast<char>(type | count));
    return std::string(1, static_cast<char>(type | 0xF)) + "\x12" + bigEndian(count, 4);
}

std::string binaryArray(const std::vector<std::uint64_t>& refs, std::size_t refSize = 1) {
    std::string out = counted(0xA0, refs.size());
    for (std::uint64_t ref : refs) out += bigEndian(ref, refSize);
    return out;
}

// How a binary document's trailer and offset table describe its objects; a row adjusts it to
// lie about them.
struct Layout {
    std::size_t refSize = 1;
    std::size_t offsetSize = 4;
    std::optional<std::uint64_t> top, tableAt;
    std::vector<std::uint64_t> offsets;
};

std::string binary(const std::vector<std::string>& objects, void (*adjust)(Layout&) = nullptr) {
    Layout layout;
    if (adjust) adjust(layout);
    std::string doc = "bplist00";
    std::vector<std::uint64_t> offsets;
    for (const std::string& object : objects) {
        offsets.push_back(doc.size());
        doc += object;
    }
    if (!layout.offsets.empty()) offsets = layout.offsets;
    const std::uint64_t tableAt = doc.size();
    for (std::uint64_t offset : offsets) doc += bigEndian(offset, layout.offsetSize);
    doc += std::string(6, '\0') + static_cast<char>(layout.offsetSize) +
           static_cast<char>(layout.refSize);
    doc += bigEndian(offsets.size(), 8);
    doc += bigEndian(layout.top.value_or(0), 8);
    return doc + bigEndian(layout.tableAt.value_or(tableAt), 8);
}

// Object i is an array holding object i + 1; the innermost holds true.
std::string nestedBinary(std::size_t levels) {
    std::vector<std::string> objects;
    for (std::size_t i = 0; i < levels; ++i) objects.push_back(binaryArray({i + 1}, 4));
    objects.emplace_back("\x09");
    return binary(objects, [](Layout& l) { l.refSize = 4; });
}

// One array using object 1 `uses` times.
std::string sharing(std::size_t uses, const std::string& shared) {
    return binary({binaryArray(std::vector<std::uint64_t>(uses, 1)), shared});
}

struct Document {
    const char* name;
    std::string (*make)();
    const char* refusal;  // part of the reason it is refused, or nullptr when it is read
};

class PlistDocumentTest : public ::testing::TestWithParam<Document> {};

TEST_P(PlistDocumentTest, IsReadOrRefusedForItsReason) {
    std::string error;
    const auto value = PlistIO::parse(GetParam().make(), &error);
    if (GetParam().refusal == nullptr) {
        EXPECT_TRUE(value) << error;
    } else {
        EXPECT_FALSE(value);
        EXPECT_NE(error.find(GetParam().refusal), std::string::npos) << error;
    }
}

const std::string kTrue = "\x09";

INSTANTIATE_TEST_SUITE_P(
    Bounds, PlistDocumentTest,
    ::testing::Values(
        Document{"Empty", [] { return std::string(); }, "empty document"},
        Document{"Html", [] { return std::string("<html><body>404</body></html>"); },
                 "unknown element <html>"},
        Document{"TruncatedXml",
                 [] { return std::string("<?xml version=\"1.0\"?><plist><array><string>a"); },
                 "unterminated <string>"},
        Document{"Garbage", [] { return std::string(64, '\xff'); }, "text outside a value"},
        Document{"DictValueWithoutKey", [] { return std::string("<dict><true/></dict>"); },
                 "not a property list"},
        Document{"MarkupInsideTextIsText",
                 [] {
                     return std::string(
                         "<plist><array><string><![CDATA[</string><array>]]><!-- <array> -->"
                         "</string></array></plist>");
                 },
                 nullptr},
        Document{"Xml256Deep", [] { return nestedXml(256); }, nullptr},
        Document{"Xml257Deep", [] { return nestedXml(257); }, "deeper than 256 levels"},
        Document{"DeepXml", [] { return nestedXml(200'000); }, "deeper than 256 levels"},
        // libplist ends "<?>" at its own '?>'; a scanner that looked for "?>" after "<?" would
        // take the arrays for part of the instruction.
        Document{"DeepBehindEmptyInstruction",
                 [] { return "<?>" + nestedXml(200'000) + "<?x?><true/>"; },
                 "deeper than 256 levels"},
        // Quotes mean nothing in a comment; skipping them there would hide the arrays.
        Document{"DeepBetweenQuotedComments",
                 [] { return "<!-- \" -->" + nestedXml(200'000) + "<!-- \" --><true/>"; },
                 "deeper than 256 levels"},
        // libplist does not take single quotes as quotes: the tag ends at the first '>'.
        Document{"DeepAfterSingleQuotedAttribute",
                 [] { return "<plist a='>" + nestedXml(200'000) + "'><true/></plist>"; },
                 "deeper than 256 levels"},
        // libplist would abort on a string whose length is not its C length.
        Document{"NulInXmlString", [] { return std::string("<string>a\0b</string>", 20); },
                 "NUL character in XML"},
        Document{"NulInUtf16String", [] { return binary({std::string("\x61\0\0", 3)}); },
                 "string holds a NUL character"},
        Document{"XmlTooManyObjects",
                 [] { return "<array>" + repeat("<true/>", 1'000'000) + "</array>"; },
                 "more than 1000000 objects"},
        Document{"ManyCharacterReferences",
                 [] { return "<string>" + repeat("&amp;", 40'000) + "</string>"; },
                 "too many character references"},
        Document{"Binary256Deep", [] { return nestedBinary(256); }, nullptr},
        Document{"Binary257Deep", [] { return nestedBinary(257); }, "deeper than 256 levels"},
        Document{"DeepBinary", [] { return nestedBinary(100'000); }, "deeper than 256 levels"},
        Document{"SharedWithinLimit", [] { return sharing(999'999, kTrue); }, nullptr},
        Document{"ExactlyTheMostObjectsInTheTable",
                 [] {
                     std::vector<std::uint64_t> refs(999'999);
                     std::iota(refs.begin(), refs.end(), 1);
                     std::vector<std::string> objects{binaryArray(refs, 4)};
                     objects.resize(1'000'000, kTrue);
                     return binary(objects, [](Layout& l) { l.refSize = 4; });
                 },
                 nullptr},
        Document{"SharedOneTooMany", [] { return sharing(1'000'000, kTrue); },
                 "more than 1000000 objects"},
        Document{"ReferenceBomb",
                 [] {
                     return binary({binaryArray(std::vector<std::uint64_t>(1000, 1)),
                                    binaryArray(std::vector<std::uint64_t>(1000, 2)),
                                    binaryArray(std::vector<std::uint64_t>(1000, 3)), kTrue});
                 },
                 "more than 1000000 objects"},
        Document{"SharedLargeData",
                 [] { return sharing(40, counted(0x40, 1 << 20) + std::string(1 << 20, 'x')); },
                 "more than 33554432 bytes once shared"},
        Document{"ReferenceCycle",
                 [] {
                     return binary({binaryArray({1}), binaryArray({0})});
                 },
                 "reference cycle"},
        Document{"TruncatedTrailer", [] { return std::string("bplist00\xd1\x01\x02", 11); },
                 "truncated trailer"},
        Document{"BadOffsetSize",
                 [] { return binary({kTrue}, [](Layout& l) { l.offsetSize = 3; }); },
                 "bad offset size"},
        Document{"BadReferenceSize",
                 [] {
                     return binary({binaryArray({}), kTrue}, [](Layout& l) { l.refSize = 0; });
                 },
                 "bad reference size"},
        Document{"OffsetIntoHeader",
                 [] { return binary({kTrue}, [](Layout& l) { l.offsets = {2}; }); },
                 "object offset out of range"},
        Document{"OffsetPastObjects",
                 [] { return binary({kTrue}, [](Layout& l) { l.offsets = {1000}; }); },
                 "object offset out of range"},
        Document{"OverlappingObjects",
                 [] { return binary({kTrue}, [](Layout& l) {
                          l.offsets = {8, 8};
                      }); },
                 "objects overlap"},
        Document{
            "OffsetTableOutOfRange",
            [] { return binary({kTrue}, [](Layout& l) { l.tableAt = std::uint64_t{1} << 40; }); },
            "offset table out of range"},
        Document{"TopOutOfRange", [] { return binary({kTrue}, [](Layout& l) { l.top = 1; }); },
                 "top object out of range"},
        Document{"ReferenceOutOfRange",
                 [] {
                     return binary({binaryArray({7}), kTrue});
                 },
                 "reference out of range"},
        Document{"LengthPastObjects", [] { return binary({counted(0x50, 200) + "abc"}); },
                 "object runs past the object area"},
        Document{"NonStringKey",
                 [] {
                     return binary({"\xd1\x01\x01", "\x10\x05"});
                 },
                 "dictionary key is not a string"},
        // libplist would read a set as an array.
        Document{"SetMarker",
                 [] {
                     return binary({"\xc1\x01", kTrue});
                 },
                 "unsupported object marker 0xc1"}),
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
