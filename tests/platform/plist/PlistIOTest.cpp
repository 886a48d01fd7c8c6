// Property lists against files written by an independent implementation (Python's plistlib,
// see scripts/make-plist-fixtures.py) in both formats, and against hostile documents built here
// that must be read or refused with their reason.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "download/TestFiles.h"
#include "platform/plist/PlistIO.h"
#include "platform/plist/PlistValue.h"
#include "support/ParamName.h"
#include "support/TempDir.h"

namespace kestrova {
namespace {

using namespace std::literals;

class PlistFixtureTest : public ::testing::TestWithParam<const char*> {};

// What is read is written back as XML that reads the same.
TEST_P(PlistFixtureTest, ReadsEveryTypeWrittenByPlistlibAndWritesItBack) {
    auto doc = PlistIO::readFile(std::string(KESTROVA_TEST_DATA_DIR) + "/" + GetParam());
    ASSERT_TRUE(doc && doc->isDictionary());
    EXPECT_EQ(doc->stringFor("title"), "ソラノカナタ");
    EXPECT_EQ(doc->find("negative")->asInteger(), -42);
    EXPECT_EQ(doc->find("big")->asInteger(), 9007199254740993);
    EXPECT_EQ(doc->find("pi")->asReal(), 3.25);
    EXPECT_TRUE(doc->find("yes")->isTrue() && doc->find("no")->isFalse());
    // plistlib writes 1 as an integer: it must never read as the boolean true.
    EXPECT_FALSE(doc->find("one")->isTrue());
    EXPECT_NE(*doc->find("one"), PlistValue::boolean(true));
    EXPECT_DOUBLE_EQ(doc->find("when")->asDate()->secondsSince1970, 1796544356.0);
    EXPECT_EQ(*doc->find("blob")->asData(), (PlistValue::Data{0x00, 0x01, 0xfe, 0x4b}));
    const auto* list = doc->find("list")->asArray();
    ASSERT_TRUE(list && list->size() == 3u);
    EXPECT_TRUE((*list)[2].find("nested")->asArray()->front().isTrue());
    EXPECT_TRUE(doc->find("empty")->asDictionary()->empty());
    EXPECT_EQ(PlistIO::parse(PlistIO::toXml(*doc).value()), doc);
}

INSTANTIATE_TEST_SUITE_P(Formats, PlistFixtureTest,
                         ::testing::Values("sample.xml.plist", "sample.bin.plist"));

TEST(PlistIO, XmlKeepsMarkupInTextAndTheSmallestInteger) {
    const PlistValue value = PlistValue::array(
        {PlistValue::string("劇場版 \"ふー\" & <bar>"), PlistValue::integer(INT64_MIN)});
    EXPECT_EQ(PlistIO::parse(PlistIO::toXml(value).value()), value);
}

TEST(PlistIO, ReadsAFileOfExactlyTheLargestSize) {
    const test::TempDir dir;
    const std::string doc = "<plist><true/></plist>";
    test::writeFile(dir.path() / "p",
                    doc + std::string(PlistIO::kMaxDocumentBytes - doc.size(), ' '));
    EXPECT_TRUE(PlistIO::readFile(dir.path() / "p"));
}

std::string repeat(std::string_view text, std::size_t times) {
    std::string out;
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

// How the trailer and offset table describe the objects; a row adjusts it to lie about them.
struct Layout {
    std::size_t refSize = 1, offsetSize = 4;
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
    doc += std::string(6, '\0') + char(layout.offsetSize) + char(layout.refSize);
    doc += bigEndian(offsets.size(), 8) + bigEndian(layout.top.value_or(0), 8);
    return doc + bigEndian(layout.tableAt.value_or(tableAt), 8);
}

// Object i is an array holding object i + 1; the innermost is true.
std::string nestedBinary(std::size_t levels) {
    std::vector<std::string> objects;
    for (std::size_t i = 0; i < levels; ++i) objects.push_back(binaryArray({i + 1}, 4));
    objects.emplace_back("\x09");
    return binary(objects, [](Layout& l) { l.refSize = 4; });
}

const std::string kTrue = "\x09";

// True alone, described by a trailer a row makes lie.
std::string lie(void (*adjust)(Layout&)) { return binary({kTrue}, adjust); }

// An array of `count` references to object `ref`.
std::string uses(std::size_t count, std::uint64_t ref) {
    return binaryArray(std::vector<std::uint64_t>(count, ref));
}

const char* const kDeep = "deeper than 256 levels";

// 200,000 arrays behind markup that must not hide them from the depth check.
std::string hidden(const std::string& before, const std::string& after) {
    return before + nestedXml(200'000) + after + "<true/>";
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
    EXPECT_EQ(value.has_value(), GetParam().refusal == nullptr) << error;
    const char* reason = GetParam().refusal ? GetParam().refusal : "";
    EXPECT_NE(error.find(reason), std::string::npos) << error;
}

// libplist ends "<?>" at its own '?>', takes no single quotes as quotes and skips no quotes in
// comments: a scanner that differs would miss the arrays hidden behind them.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Bounds, PlistDocumentTest,
    ::testing::Values(
        Document{"Empty", [] { return ""s; }, "empty document"},
        Document{"Html", [] { return "<html><body>404</body></html>"s; }, "unknown element <html>"},
        Document{"TruncatedXml", [] { return "<plist><array><string>a"s; },
                 "unterminated <string>"},
        Document{"Garbage", [] { return std::string(64, '\xff'); }, "text outside a value"},
        Document{"DictValueWithoutKey", [] { return "<dict><true/></dict>"s; },
                 "not a property list"},
        Document{"MarkupInsideTextIsText", [] {
            return "<plist><array><string><![CDATA[</string><array>]]><!-- <array> -->"
                   "</string></array></plist>"s; }, nullptr},
        Document{"Xml256Deep", [] { return nestedXml(256); }, nullptr},
        Document{"Xml257Deep", [] { return nestedXml(257); }, kDeep},
        Document{"DeepBehindEmptyInstruction", [] { return hidden("<?>", "<?x?>"); }, kDeep},
        Document{"DeepBetweenQuotedComments", [] { return hidden("<!-- \" -->", "<!-- \" -->"); },
                 kDeep},
        Document{"DeepAfterSingleQuotedAttribute", [] { return hidden("<plist a='>", "'>"); },
                 kDeep},
        // libplist would abort on a string whose length is not its C length.
        Document{"NulInXmlString", [] { return "<string>a\0b</string>"s; }, "NUL character in XML"},
        Document{"NulInUtf16String", [] { return binary({"\x61\0\0"s}); },
                 "string holds a NUL character"},
        Document{"XmlTooManyObjects",
                 [] { return "<array>" + repeat("<true/>", 1'000'000) + "</array>"; },
                 "more than 1000000 objects"},
        Document{"ManyCharacterReferences",
                 [] { return "<string>" + repeat("&amp;", 40'000) + "</string>"; },
                 "too many character references"},
        Document{"Binary256Deep", [] { return nestedBinary(256); }, nullptr},
        Document{"Binary257Deep", [] { return nestedBinary(257); }, kDeep},
        Document{"DeepBinary", [] { return nestedBinary(100'000); }, kDeep},
        Document{"SharedWithinLimit", [] { return binary({uses(999'999, 1), kTrue}); }, nullptr},
        Document{"SharedOneTooMany", [] { return binary({uses(1'000'000, 1), kTrue}); },
                 "more than 1000000 objects"},
        Document{"ReferenceBomb", [] {
            return binary({uses(1000, 1), uses(1000, 2), uses(1000, 3), kTrue}); },
                 "more than 1000000 objects"},
        Document{"SharedLargeData", [] { return binary({uses(40, 1), counted(0x40, 1 << 20) +
                                                        std::string(1 << 20, '-')}); },
                 "more than 33554432 bytes once shared"},
        Document{"ReferenceCycle", [] { return binary({binaryArray({1}), binaryArray({0})}); },
                 "reference cycle"},
        Document{"TruncatedTrailer", [] { return "bplist00\xd1\x01\x02"s; }, "truncated trailer"},
        Document{"BadOffsetSize", [] { return lie([](Layout& l) { l.offsetSize = 3; }); },
                 "bad offset size"},
        Document{"BadReferenceSize", [] {
            return binary({binaryArray({}), kTrue}, [](Layout& l) { l.refSize = 0; }); },
                 "bad reference size"},
        Document{"OffsetIntoHeader", [] { return lie([](Layout& l) { l.offsets = {2}; }); },
                 "object offset out of range"},
        Document{"OffsetPastObjects", [] { return lie([](Layout& l) { l.offsets = {1000}; }); },
                 "object offset out of range"},
        Document{"OverlappingObjects", [] { return lie([](Layout& l) { l.offsets = {8, 8}; }); },
                 "objects overlap"},
        Document{"OffsetTableOutOfRange",
                 [] { return lie([](Layout& l) { l.tableAt = 1ull << 40; }); },
                 "offset table out of range"},
        Document{"TopOutOfRange", [] { return lie([](Layout& l) { l.top = 1; }); },
                 "top object out of range"},
        Document{"ReferenceOutOfRange", [] { return binary({binaryArray({7}), kTrue}); },
                 "reference out of range"},
        Document{"LengthPastObjects", [] { return binary({counted(0x50, 200) + "abc"}); },
                 "object runs past the object area"},
        Document{"NonStringKey", [] { return binary({"\xd1\x01\x01", "\x10\x05"}); },
                 "dictionary key is not a string"},
        // libplist would read a set as an array.
        Document{"SetMarker", [] { return binary({"\xc1\x01", kTrue}); },
                 "unsupported object marker 0xc1"}),
    test::ParamName());
// clang-format on

}  // namespace
}  // namespace kestrova
