// The file names a server can make Kestrova write: always a plain name inside the folder.
#include <gtest/gtest.h>

#include <tuple>

#include "platform/net/DownloadFileName.h"

namespace kestrova {
namespace {

// The Content-Disposition header, the URL and the name that comes of them.
TEST(DownloadFileName, IsAPlainNameFromHeaderOrUrl) {
    // clang-format off
    const std::tuple<std::string, std::string, std::string> rows[] = {
        {"", "http://h/dir/%E5%8B%95%E7%94%BB%20a.mp4?x=1", "動画 a.mp4"},
        {"", "http://h/", "download"},
        {"", "http://h/a/..%2F..%2Fetc%2Fpasswd", "passwd"},
        {"attachment; FileName=\"a \\\"b\\\".pdf\"", "http://h/x", "a \"b\".pdf"},
        {"inline; filename=plain.bin", "http://h/x", "plain.bin"},
        {"attachment; filename=\"fallback.txt\"; filename*=UTF-8''%E5%A0%B1%E5%91%8A.pdf", "http://h/x", "報告.pdf"},
        {"attachment; filename*=ISO-8859-1''caf%E9.txt", "http://h/x", "café.txt"},
        {"attachment; filename=a.txt; filename*=KOI8-R''b", "http://h/x", "a.txt"},
        {"attachment; filename=\"caf\xE9.txt\"", "http://h/x", "café.txt"},
        {"attachment; filename=\"/etc/cron.d/job\"", "http://h/x", "job"},
        {"attachment; filename=\"..\"", "http://h/clip.mp4", "clip.mp4"},
        {"attachment; filename*=UTF-8''a%00b.txt", "http://h/x", "ab.txt"},
        {"attachment", "http://h/clip.mp4", "clip.mp4"}};
    // clang-format on
    for (const auto& [header, url, name] : rows)
        EXPECT_EQ(DownloadFileName::suggested(header, url), name) << header << " " << url;
}

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
