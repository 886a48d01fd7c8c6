// The file names a server can make Kestrova write: always a plain name inside the folder.
#include <gtest/gtest.h>

#include "platform/net/DownloadFileName.h"
#include "support/ParamName.h"

namespace kestrova {
namespace {

struct Case {
    const char* name;
    std::string contentDisposition;
    std::string expected;
    std::string url = "http://h/x";
};

class DownloadFileNameTest : public ::testing::TestWithParam<Case> {};

TEST_P(DownloadFileNameTest, IsAPlainNameFromHeaderOrUrl) {
    EXPECT_EQ(DownloadFileName::suggested(GetParam().contentDisposition, GetParam().url),
              GetParam().expected);
}

// clang-format off
const Case kCases[] = {
    Case("UrlComponent", "", "video.mp4", "http://h/dir/video.mp4?x=1"),
    Case("UrlPercentDecoded", "", "動画 a.mp4", "http://h/%E5%8B%95%E7%94%BB%20a.mp4"),
    Case("UrlWithoutPath", "", "download", "http://h/"),
    Case("UrlEncodedSlashes", "", "passwd", "http://h/a/..%2F..%2Fetc%2Fpasswd"),
    Case("HeaderQuotedWithEscapes", "attachment; FileName=\"a \\\"b\\\".pdf\"", "a \"b\".pdf"),
    Case("HeaderToken", "inline; filename=plain.bin", "plain.bin"),
    Case("HeaderExtendedPreferred", "attachment; filename=\"fallback.txt\"; filename*=UTF-8''%E5%A0%B1%E5%91%8A.pdf", "報告.pdf"),
    Case("HeaderExtendedLatin1", "attachment; filename*=ISO-8859-1''caf%E9.txt", "café.txt"),
    Case("HeaderExtendedUnknownCharset", "attachment; filename=a.txt; filename*=KOI8-R''b", "a.txt"),
    Case("HeaderLatin1Bytes", "attachment; filename=\"caf\xE9.txt\"", "café.txt"),
    Case("HeaderAbsolutePath", "attachment; filename=\"/etc/cron.d/job\"", "job"),
    Case("HeaderDotDotFallsBackToUrl", "attachment; filename=\"..\"", "clip.mp4", "http://h/clip.mp4"),
    Case("HeaderNul", "attachment; filename*=UTF-8''a%00b.txt", "ab.txt"),
    Case("HeaderWithoutName", "attachment", "clip.mp4", "http://h/clip.mp4")};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, DownloadFileNameTest, ::testing::ValuesIn(kCases),
                         test::ParamName());

std::string times(const std::string& text, int count) {
    std::string out;
    while (count-- > 0) out += text;
    return out;
}

// At most 255 bytes, keeping the extension and whole characters (3 bytes each: 83 of them and
// ".mp4" fill 253 bytes; one more makes room for " (12)"); numbered like the browsers. An
// extension that leaves no room for the stem is cut like the rest.
TEST(DownloadFileName, LongAndNumberedNamesKeepExtensionAndWholeCharacters) {
    using D = DownloadFileName;
    EXPECT_EQ(D::safe(times("a", 300) + ".mp4"), times("a", 251) + ".mp4");
    EXPECT_EQ(D::shortened("abc.mp4", 4), "abc.");
    EXPECT_EQ(D::safe(times("あ", 100) + ".mp4"), times("あ", 83) + ".mp4");
    EXPECT_EQ(D::numbered(times("あ", 83) + ".mp4", 12), times("あ", 82) + " (12).mp4");
    EXPECT_EQ(D::numbered("README", 2) + D::numbered(".hidden", 3), "README (2).hidden (3)");
    EXPECT_EQ(D::numbered("Title (01).download", 1), "Title (01) (1).download");
}

}  // namespace
}  // namespace kestrova
