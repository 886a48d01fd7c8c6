#include <gtest/gtest.h>

#include "platform/text/TextUtil.h"
#include "support/ParamName.h"

namespace kestrova {
namespace {

struct IntegerCase {
    const char* text;
    std::int32_t expected;
};

class LeadingIntegerTest : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(LeadingIntegerTest, Reads) {
    EXPECT_EQ(TextUtil::leadingInteger(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LeadingIntegerTest,
    ::testing::Values(IntegerCase{"05)", 5}, IntegerCase{"5話", 5}, IntegerCase{"12abc", 12},
                      IntegerCase{"abc", 0}, IntegerCase{"", 0}, IntegerCase{"  \t42", 42},
                      IntegerCase{"-7x", -7}, IntegerCase{"+8", 8}, IntegerCase{"- 8", 0},
                      IntegerCase{"2147483647", 2147483647}, IntegerCase{"2147483648", 2147483647},
                      IntegerCase{"99999999999999999999999", 2147483647},
                      IntegerCase{"-2147483649", -2147483647 - 1}, IntegerCase{"TV) ", 0}));

TEST(TextUtil, StartsAndEndsWithTheWholeText) {
    EXPECT_TRUE(TextUtil::startsWith("abc", "abc") && TextUtil::endsWith("abc", "abc"));
    EXPECT_TRUE(TextUtil::endsWith("a.mp4", ".mp4"));
    EXPECT_FALSE(TextUtil::endsWith("mp4", "a.mp4") || TextUtil::startsWith("ab", "abc"));
}

TEST(TextUtil, SplitKeepsEmptyPieces) {
    EXPECT_EQ(TextUtil::split("a  b", " "), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(TextUtil::split("", "\n"), (std::vector<std::string>{""}));
    EXPECT_EQ(TextUtil::split("x\n", "\n"), (std::vector<std::string>{"x", ""}));
    EXPECT_EQ(TextUtil::split("Foo (TV) (05)", " ("),
              (std::vector<std::string>{"Foo", "TV)", "05)"}));
}

TEST(TextUtil, PercentDecodingRefusesWhatIsNotUtf8) {
    EXPECT_EQ(TextUtil::percentDecodeUtf8("http://a/%E3%81%82%20b"), "http://a/あ b");
    EXPECT_EQ(TextUtil::percentDecodeUtf8("plain"), "plain");
    EXPECT_FALSE(TextUtil::percentDecodeUtf8("%FF"));
    EXPECT_FALSE(TextUtil::percentDecodeUtf8("%C0%AF"));  // overlong "/"
    EXPECT_FALSE(TextUtil::percentDecodeUtf8("%E3%81"));  // cut short
    EXPECT_FALSE(TextUtil::percentDecodeUtf8("%4"));
    EXPECT_FALSE(TextUtil::percentDecodeUtf8("%zz"));
}

TEST(TextUtil, Utf8Validation) {
    EXPECT_TRUE(TextUtil::isValidUtf8("ひまわり動画 ⬇"));
    EXPECT_FALSE(TextUtil::isValidUtf8("\xed\xa0\x80"));      // surrogate
    EXPECT_FALSE(TextUtil::isValidUtf8("\xf4\x90\x80\x80"));  // beyond U+10FFFF
    EXPECT_FALSE(TextUtil::isValidUtf8("abc\xe3"));
}

struct LogCase {
    const char* name;
    std::string value;
    std::string logged;
};

class ForLogTest : public ::testing::TestWithParam<LogCase> {};

// A logged value never starts a line of its own and never runs past 1,024 bytes.
TEST_P(ForLogTest, EscapesControlsAndCutsLongValues) {
    EXPECT_EQ(TextUtil::forLog(GetParam().value), GetParam().logged);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ForLogTest,
    ::testing::Values(
        LogCase{"Plain", "ヒカリノサキ (05)", "ヒカリノサキ (05)"},
        LogCase{"LineFeedAndReturn", "a\n12:00 kestrova[1:1] Forged\r",
                "a\\n12:00 kestrova[1:1] Forged\\r"},
        LogCase{"OtherControls", std::string("\t\x1b[31m\x7f\0", 8), "\\t\\x1b[31m\\x7f\\x00"},
        LogCase{"UnicodeBreaks", "a\u2028b\u2029c\u0085d", "a\\u2028b\\u2029c\\u0085d"},
        LogCase{"NotUtf8", "caf\xe9", "caf\\xe9"},
        LogCase{"ExactlyTheLimit", std::string(1024, 'k'), std::string(1024, 'k')},
        LogCase{"OneByteMore", std::string(1025, 'k'), std::string(1024, 'k') + "…"},
        // 341 three-byte characters fill 1,023 bytes; the next one would split at the limit.
        LogCase{"CutAtACharacter",
                [] {
                    std::string s;
                    for (int i = 0; i < 400; ++i) s += "あ";
                    return s;
                }(),
                [] {
                    std::string s;
                    for (int i = 0; i < 341; ++i) s += "あ";
                    return s + "…";
                }()},
        // An escape is never split either.
        LogCase{"CutBeforeAnEscape", std::string(1023, 'k') + "\n", std::string(1023, 'k') + "…"}),
    test::ParamName());

}  // namespace
}  // namespace kestrova
