#include <gtest/gtest.h>

#include "platform/text/TextUtil.h"

namespace kestrova {
namespace {

TEST(TextUtil, LeadingIntegerStopsAtTheFirstNonDigitAndSaturates) {
    std::vector<std::int32_t> read;
    for (const char* text : {"5話", "abc", "  \t42", "-7x", "+8", "- 8", "2147483647", "2147483648",
                             "99999999999999999999999", "-2147483649"})
        read.push_back(TextUtil::leadingInteger(text));
    EXPECT_EQ(read, (std::vector{5, 0, 42, -7, 8, 0, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MIN}));
}

TEST(TextUtil, StartsEndsAndSplit) {
    EXPECT_TRUE(TextUtil::startsWith("abc", "abc") && TextUtil::endsWith("abc", "abc"));
    EXPECT_FALSE(TextUtil::endsWith("mp4", "a.mp4") || TextUtil::startsWith("ab", "abc"));
    EXPECT_EQ(TextUtil::split("a (TV) ( (", " ("), (std::vector<std::string>{"a", "TV)", "", ""}));
}

TEST(TextUtil, PercentDecodingAndValidationRefuseWhatIsNotUtf8) {
    EXPECT_EQ(TextUtil::percentDecodeUtf8("http://a/%E3%81%82%20b"), "http://a/あ b");
    // Invalid, overlong "/", cut short, a surrogate, beyond U+10FFFF, not hex.
    for (const char* text : {"%FF", "%C0%AF", "%E3%81", "%ED%A0%80", "%F4%90%80%80", "%4", "%zz"})
        EXPECT_FALSE(TextUtil::percentDecodeUtf8(text)) << text;
    EXPECT_TRUE(TextUtil::isValidUtf8("ひまわり動画 ⬇"));
    EXPECT_FALSE(TextUtil::isValidUtf8("abc\xe3"));
}

std::string times(const std::string& text, int count) {
    std::string out;
    while (count-- > 0) out += text;
    return out;
}

// A logged value never starts a line of its own and never runs past 1,024 bytes: 341 three-byte
// characters fill 1,023 bytes and the next one would split at the limit; nor is an escape split.
TEST(TextUtil, ForLogEscapesControlsAndCutsLongValues) {
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {"a\n12:00 kestrova[1:1] Forged\r", "a\\n12:00 kestrova[1:1] Forged\\r"},
        {std::string("\t\x1b[31m\x7f\0", 8), "\\t\\x1b[31m\\x7f\\x00"},
        {"a\u2028b\u2029c\u0085d", "a\\u2028b\\u2029c\\u0085d"},
        {"caf\xe9", "caf\\xe9"},
        {times("k", 1024), times("k", 1024)},
        {times("k", 1025), times("k", 1024) + "…"},
        {times("あ", 400), times("あ", 341) + "…"},
        {times("k", 1023) + "\n", times("k", 1023) + "…"}};
    // clang-format on
    for (const auto& [value, logged] : cases) EXPECT_EQ(TextUtil::forLog(value), logged);
}

}  // namespace
}  // namespace kestrova
