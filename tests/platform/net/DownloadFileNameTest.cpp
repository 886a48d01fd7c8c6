// The file names a server can make Kestrova write: always a plain name inside the folder.
#include <gtest/gtest.h>

#include "platform/net/DownloadFileName.h"
#include "platform/text/TextUtil.h"
#include "support/ParamName.h"

namespace kestrova {
namespace {

struct Case {
    const char* name;
    std::string contentDisposition;
    std::string url;
    std::string expected;
};

class DownloadFileNameTest : public ::testing::TestWithParam<Case> {};

TEST_P(DownloadFileNameTest, IsAPlainNameFromHeaderOrUrl) {
    EXPECT_EQ(DownloadFileName::suggested(GetParam().contentDisposition, GetParam().url),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DownloadFileNameTest,
    ::testing::Values(
        Case{"UrlComponent", "", "http://h/dir/video.mp4?x=1", "video.mp4"},
        Case{"UrlPercentDecoded", "", "http://h/%E5%8B%95%E7%94%BB%20a.mp4", "動画 a.mp4"},
        Case{"UrlWithoutPath", "", "http://h/", "download"},
        Case{"UrlEncodedSlashes", "", "http://h/a/..%2F..%2Fetc%2Fpasswd", "passwd"},
        Case{"UrlDot", "", "http://h/a/%2E", "download"},
        Case{"HeaderQuotedWithEscapes", "attachment; FileName=\"a \\\"b\\\".pdf\"", "http://h/x",
             "a \"b\".pdf"},
        Case{"HeaderToken", "inline; filename=plain.bin", "http://h/x", "plain.bin"},
        Case{"HeaderExtendedPreferred",
             "attachment; filename=\"fallback.txt\"; filename*=UTF-8''%E5%A0%B1%E5%91%8A.pdf",
             "http://h/x", "報告.pdf"},
        Case{"HeaderExtendedLatin1", "attachment; filename*=ISO-8859-1''caf%E9.txt", "http://h/x",
             "café.txt"},
        Case{"HeaderExtendedUnknownCharset", "attachment; filename=a.txt; filename*=KOI8-R''b",
             "http://h/x", "a.txt"},
        Case{"HeaderLatin1Bytes", "attachment; filename=\"caf\xE9.txt\"", "http://h/x", "café.txt"},
        Case{"HeaderAbsolutePath", "attachment; filename=\"/etc/cron.d/job\"", "http://h/x", "job"},
        Case{"HeaderDotDotFallsBackToUrl", "attachment; filename=\"..\"", "http://h/clip.mp4",
             "clip.mp4"},
        Case{"HeaderNul", "attachment; filename*=UTF-8''a%00b.txt", "http://h/x", "ab.txt"},
        Case{"HeaderWithoutName", "attachment", "http://h/clip.mp4", "clip.mp4"},
        Case{"HeaderTrailingSlashOnly", "attachment; filename=\"dir/\"", "http://h/", "download"}),
    test::ParamName());

std::string repeated(const std::string& text, int times) {
    std::string out;
    while (times-- > 0) out += text;
    return out;
}

TEST(DownloadFileName, LongNamesAreShortenedKeepingExtensionAndWholeCharacters) {
    EXPECT_EQ(DownloadFileName::safe(repeated("a", 300) + ".mp4"), repeated("a", 251) + ".mp4");
    // 3 bytes each: 83 of them and ".mp4" fill 253 of the 255 bytes.
    EXPECT_EQ(DownloadFileName::safe(repeated("あ", 100) + ".mp4"), repeated("あ", 83) + ".mp4");
}

TEST(DownloadFileName, NumberedNamesFollowTheBrowsersAndStayShortEnough) {
    EXPECT_EQ(DownloadFileName::numbered("clip.mp4", 1), "clip (1).mp4");
    EXPECT_EQ(DownloadFileName::numbered("README", 2), "README (2)");
    EXPECT_EQ(DownloadFileName::numbered(".hidden", 3), ".hidden (3)");
    EXPECT_EQ(DownloadFileName::numbered("Title (01).download", 1), "Title (01) (1).download");
    // 253 bytes: one character makes room for " (12)".
    EXPECT_EQ(DownloadFileName::numbered(repeated("あ", 83) + ".mp4", 12),
              repeated("あ", 82) + " (12).mp4");
}

}  // namespace
}  // namespace kestrova
