// A property list written by Python's plistlib (scripts/make-plist-fixtures.py), and hostile
// documents built here that must be read or refused with their reason.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "download/TestFiles.h"
#include "platform/plist/PlistIO.h"
#include "platform/plist/PlistValue.h"
#include "support/TempDir.h"

namespace kestrova {
namespace {

using namespace std::literals;
using V = PlistValue;

// Written back as XML it reads the same, with markup in a string and the smallest integer too.
TEST(PlistIO, ReadsEveryTypeAndWritesItBackAsXml) {
    const auto doc = PlistIO::readFile(std::string(KESTROVA_TEST_DATA_DIR) + "/sample.bin.plist");
    // plistlib writes 1 as an integer: it must never read as the boolean true.
    // clang-format off
    EXPECT_EQ(doc, V::dictionary({{"big", V::integer(9007199254740993)}, {"blob", V::data({0x00, 0x01, 0xfe, 0x4b})},
        {"empty", V::dictionary()}, {"list", V::array({V::string("a"), V::integer(2), V::dictionary({{"nested", V::array({V::boolean(true)})}})})},
        {"negative", V::integer(-42)}, {"no", V::boolean(false)}, {"one", V::integer(1)}, {"pi", V::real(3.25)},
        {"title", V::string("ソラノカナタ")}, {"when", V::date({1796544356.0})}, {"yes", V::boolean(true)}}));
    // clang-format on
    EXPECT_TRUE(doc->find("no")->isFalse() && !doc->find("one")->isTrue());
    const V all = V::array({*doc, V::string("劇場版 \"ふー\" & <bar>"), V::integer(INT64_MIN)});
    EXPECT_EQ(PlistIO::parse(PlistIO::toXml(all).value()), all);
}

TEST(PlistIO, ReadsAFileOfExactlyTheLargestSizeAndNoLarger) {
    const test::TempDir dir;
    const std::string doc = "<plist><true/></plist>";
    test::writeFile(dir.path() / "p",
                    doc + std::string(PlistIO::kMaxDocumentBytes - doc.size(), ' '));
    EXPECT_TRUE(PlistIO::readFile(dir.path() / "p"));
    test::writeFile(dir.path() / "p", test::readFile(dir.path() / "p") + " ");
    EXPECT_FALSE(PlistIO::readFile(dir.path() / "p"));
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

// How the trailer and offset table describe the objects; a row may make it lie about them.
struct Layout {
    std::size_t refSize = 1, offsetSize = 4;
    std::optional<std::uint64_t> top = {}, tableAt = {};
    std::vector<std::uint64_t> offsets = {};
};

std::string binary(const std::vector<std::string>& objects, Layout layout = {}) {
    std::string doc = "bplist00";
    std::vector<std::uint64_t> offsets;
    for (const std::string& object : objects) offsets.push_back(doc.size()), doc += object;
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
    return binary(objects, {.refSize = 4});
}

const std::string kTrue = "\x09";

// libplist ends "<?>" at its own '?>', takes no single quotes as quotes and skips no quotes in
// comments: a scanner that differs would miss the 200,000 arrays hidden behind them. It would
// abort on a string whose length is not its C length, and read a set as an array.
// A document, and part of the reason it is refused (nullptr when it is read).
TEST(PlistIO, HostileDocumentsAreReadOrRefusedForTheirReason) {
    const char *const kDeep = "deeper than 256 levels", *const kMany = "more than 1000000 objects";
    // clang-format off
    const std::tuple<const char*, std::string, const char*> documents[] = {
        {"Empty", "", "empty document"},
        {"Html", "<html><body>404</body></html>", "unknown element <html>"},
        {"TruncatedXml", "<plist><array><string>a", "unterminated <string>"},
        {"Garbage", std::string(64, '\xff'), "text outside a value"},
        {"DictValueWithoutKey", "<dict><true/></dict>", "not a property list"},
        {"MarkupInsideTextIsText", "<array><string><![CDATA[</string><array>]]><!-- <array> --></string></array>", nullptr},
        {"Xml256Deep", nestedXml(256), nullptr},
        {"Xml257Deep", nestedXml(257), kDeep},
        {"DeepBehindEmptyInstruction", "<?>" + nestedXml(200'000) + "<?x?><true/>", kDeep},
        {"DeepBetweenQuotedComments", "<!-- \" -->" + nestedXml(200'000) + "<!-- \" --><true/>", kDeep},
        {"DeepAfterSingleQuotedAttribute", "<plist a='>" + nestedXml(200'000) + "'><true/>", kDeep},
        {"NulInXmlString", "<string>a\0b</string>"s, "NUL character in XML"},
        {"NulInUtf16String", binary({"\x61\0\0"s}), "string holds a NUL character"},
        {"XmlTooManyObjects", "<array>" + repeat("<true/>", 1'000'000) + "</array>", kMany},
        {"ManyCharacterReferences", "<string>" + repeat("&amp;", 40'000) + "</string>", "too many character references"},
        {"Binary256Deep", nestedBinary(256), nullptr},
        {"Binary257Deep", nestedBinary(257), kDeep},
        {"SharedWithinLimit", binary({binaryArray(std::vector<std::uint64_t>(999'999, 1)), kTrue}), nullptr},
        {"ReferenceBomb", binary({binaryArray(std::vector<std::uint64_t>(1000, 1)), binaryArray(std::vector<std::uint64_t>(1000, 2)), binaryArray(std::vector<std::uint64_t>(1000, 3)), kTrue}), kMany},
        {"SharedLargeData", binary({binaryArray(std::vector<std::uint64_t>(40, 1)), counted(0x40, 1 << 20) + std::string(1 << 20, '-')}), "more than 33554432 bytes once shared"},
        {"ReferenceCycle", binary({binaryArray({1}), binaryArray({0})}), "reference cycle"},
        {"TruncatedTrailer", "bplist00\xd1\x01\x02", "truncated trailer"},
        {"BadOffsetSize", binary({kTrue}, {.offsetSize = 3}), "bad offset size"},
        {"BadReferenceSize", binary({binaryArray({}), kTrue}, {.refSize = 0}), "bad reference size"},
        {"OffsetIntoHeader", binary({kTrue}, {.offsets = {2}}), "object offset out of range"},
        {"OverlappingObjects", binary({kTrue}, {.offsets = {8, 8}}), "objects overlap"},
        {"OffsetTableOutOfRange", binary({kTrue}, {.tableAt = 1ull << 40}), "offset table out of range"},
        {"TopOutOfRange", binary({kTrue}, {.top = 1}), "top object out of range"},
        {"ReferenceOutOfRange", binary({binaryArray({7}), kTrue}), "reference out of range"},
        {"LengthPastObjects", binary({counted(0x50, 200) + "abc"}), "object runs past the object area"},
        {"CountPastObjects", binary({"\x5f"}), "object runs past the object area"},
        {"NonStringKey", binary({"\xd1\x01\x01", "\x10\x05"}), "dictionary key is not a string"},
        {"SetMarker", binary({"\xc1\x01", kTrue}), "unsupported object marker 0xc1"}};
    // clang-format on

    for (const auto& [name, text, refusal] : documents) {
        std::string error;
        EXPECT_EQ(PlistIO::parse(text, &error).has_value(), refusal == nullptr) << name << error;
        EXPECT_NE(error.find(refusal ? refusal : ""), std::string::npos) << name << error;
    }
}

}  // namespace
}  // namespace kestrova
