// The file names a server can make Kestrova write: always a plain name inside the folder.
#include <gtest/gtest.h>

#include "platform/net/DownloadFileName.h"
#include "platform/text/TextUtil.h"
#include "support/ParamName.h"

namespace kestrova {
namespace {

struct SuggestedCase {
    const char* name;
    std::string contentDisposition;
    std::string url;
    std::string expected;
};

class DownloadFileNameSuggestedTest : public ::testing::TestWithParam<SuggestedCase> {};

TEST_P(DownloadFileNameSuggestedTest, IsAPlainNameFromHeaderOrUrl) {
    const auto& row = GetParam();
    EXPECT_EQ(DownloadFileName::suggested(row.contentDisposition, row.url), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DownloadFileNameSuggestedTest,
    ::testing::Values(
        SuggestedCase{"UrlComponent", "", "http://h/dir/video.mp4?x=1", "video.mp4"},
        SuggestedCase{"UrlPercentDecoded", "", "http://h/%E5%8B%95%E7%94%BB%20a.mp4", "動画 a.mp4"},
        SuggestedCase{"UrlWithoutPath", "", "http://h/", "download"},
        SuggestedCase{"UrlEncodedSlashes", "", "http://h/a/..%2F..%2Fetc%2Fpasswd", "passwd"},
        SuggestedCase{"UrlDotDot", "", "http://h/a/%2E%2E", "download"},
        SuggestedCase{"HeaderQuoted", "attachment; filename=\"report final.pdf\"", "http://h/x",
                      "report final.pdf"},
        SuggestedCase{"HeaderToken", "inline; filename=plain.bin", "http://h/x", "plain.bin"},
        SuggestedCase{"HeaderExtendedPreferred",
                      "attachment; filename=\"fallback.txt\"; "
                      "filename*=UTF-8''%E5%A0%B1%E5%91%8A.pdf",
                      "http://h/x", "報告.pdf"},
        SuggestedCase{"HeaderExtendedLatin1", "attachment; filename*=ISO-8859-1''caf%E9.txt",
                      "http://h/x", "café.txt"},
        SuggestedCase{"HeaderTraversal", "attachment; filename=\"../../.bashrc\"", "http://h/x",
                      ".bashrc"},
        SuggestedCase{"HeaderAbsolutePath", "attachment; filename=\"/etc/cron.d/job\"",
                      "http://h/x", "job"},
        SuggestedCase{"HeaderDotDotFallsBackToUrl", "attachment; filename=\"..\"",
                      "http://h/clip.mp4", "clip.mp4"},
        SuggestedCase{"HeaderNul", "attachment; filename*=UTF-8''a%00b.txt", "http://h/x",
                      "ab.txt"},
        SuggestedCase{"HeaderWithoutName", "attachment", "http://h/clip.mp4", "clip.mp4"},
        SuggestedCase{"HeaderTrailingSlashOnly", "attachment; filename=\"dir/\"", "http://h/",
                      "download"}),
    test::ParamName());

TEST(DownloadFileName, LongNamesAreShortenedKeepingExtensionAndWholeCharacters) {
    const std::string ascii = std::string(300, 'a') + ".mp4";
    const std::string shortAscii = DownloadFileName::safe(ascii);
    EXPECT_EQ(shortAscii.size(), 255u);
    EXPECT_TRUE(TextUtil::endsWith(shortAscii, "aaa.mp4"));

    std::string japanese;
    for (int i = 0; i < 100; ++i) japanese += "あ";  // 3 bytes each
    const std::string shortJapanese = DownloadFileName::safe(japanese + ".mp4");
    EXPECT_LE(shortJapanese.size(), 255u);
    EXPECT_GE(shortJapanese.size(), 250u);
    EXPECT_TRUE(TextUtil::endsWith(shortJapanese, "あ.mp4"));
    EXPECT_TRUE(TextUtil::isValidUtf8(shortJapanese));
}

TEST(DownloadFileName, NumberedNamesFollowTheBrowsersAndStayShortEnough) {
    EXPECT_EQ(DownloadFileName::numbered("clip.mp4", 1), "clip (1).mp4");
    EXPECT_EQ(DownloadFileName::numbered("README", 2), "README (2)");
    EXPECT_EQ(DownloadFileName::numbered(".hidden", 3), ".hidden (3)");
    EXPECT_EQ(DownloadFileName::numbered("Title (01).download", 1), "Title (01) (1).download");

    std::string japanese;
    for (int i = 0; i < 83; ++i) japanese += "あ";
    const std::string longName = japanese + ".mp4";  // 253 bytes
    const std::string numbered = DownloadFileName::numbered(longName, 12);
    EXPECT_LE(numbered.size(), 255u);
    EXPECT_TRUE(TextUtil::endsWith(numbered, " (12).mp4"));
    EXPECT_TRUE(TextUtil::isValidUtf8(numbered));
}

}  // namespace
}  // namespace kestrova
