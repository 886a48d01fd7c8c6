// The journal of unfinished downloads: its reader against hostile documents, the launch checks
// of each row's partial file, and writing it on a full disk.
#include <gtest/gtest.h>

#include "download/DownloadJournal.h"
#include "download/JournalDocument.h"
#include "download/TestFiles.h"
#include "platform/plist/PlistIO.h"
#include "platform/system/Files.h"
#include "support/RecordingLog.h"
#include "support/TempDir.h"
#include "support/TmpfsMount.h"

namespace kestrova {
namespace {

using Row = PlistValue::Dictionary;

Row manualRow() {
    return {{"URL", PlistValue::string("http://127.0.0.1/a.bin")},
            {"file", PlistValue::string("a.bin")},
            {"length", PlistValue::integer(100)},
            {"kept", PlistValue::integer(50)},
            {"validator", PlistValue::string("\"v1\"")},
            {"inode", PlistValue::integer(7)}};
}

Row with(Row row, const std::string& key, PlistValue value) {
    row.insert_or_assign(key, std::move(value));
    return row;
}

std::string document(std::vector<Row> rows, std::int64_t version = 1) {
    PlistValue::Array items;
    for (Row& row : rows) items.push_back(PlistValue::dictionary(std::move(row)));
    return *PlistIO::toXml(PlistValue::dictionary(
        {{"version", PlistValue::integer(version)}, {"downloads", PlistValue::array(items)}}));
}

// A row is refused for the first field that is not what Kestrova writes; the whole document goes
// with it. Valid rows come back as written.
TEST(JournalDocument, RefusesEveryHostileFieldAndReadsBackWhatItWrote) {
    const auto s = [](const char* text) { return PlistValue::string(text); };
    const auto i = [](std::int64_t value) { return PlistValue::integer(value); };
    const Row automatic =
        with(with(with(manualRow(), "file", s("T (05).download")), "title", s("T")), "episode",
             s("T (05)"));
    struct Case {
        const char* name;
        std::string bytes;
        const char* reason;  // "" when read
    };
    const std::vector<Case> cases{
        {"manual", document({manualRow()}), ""},
        {"automatic", document({automatic}), ""},
        {"no length, no validator",
         document({with(with(manualRow(), "length", i(-1)), "validator", s(""))}), ""},
        {"garbage", "<plist><dict><key>a", "unterminated"},
        {"too large", std::string(JournalDocument::kMaxBytes + 1, ' '), "larger than"},
        {"not a dictionary", *PlistIO::toXml(PlistValue::array()), "not a dictionary"},
        {"another version", document({manualRow()}, 2), "not version 1"},
        {"257 rows", document(std::vector<Row>(257, manualRow())), "more than 256 downloads"},
        {"a row not a dictionary",
         *PlistIO::toXml(PlistValue::dictionary(
             {{"version", i(1)}, {"downloads", PlistValue::array({s("x")})}})),
         "not a dictionary"},
        {"kept of the wrong type", document({with(manualRow(), "kept", s("50"))}), "wrong type"},
        {"ftp", document({with(manualRow(), "URL", s("ftp://h/a"))}), "not http"},
        {"a path", document({with(manualRow(), "file", s("../../.bashrc"))}), "plain name"},
        {"dot dot", document({with(manualRow(), "file", s(".."))}), "plain name"},
        {"no name", document({with(manualRow(), "file", s(""))}), "plain name"},
        {"kept past the length", document({with(manualRow(), "kept", i(101))}), "out of range"},
        {"a header line in the validator",
         document({with(manualRow(), "validator", s("\"v\"\r\nCookie: x"))}), "header value"},
        {"a title without episode", document({with(manualRow(), "title", s("T"))}), "title"},
        {"an automatic file not .download", document({with(automatic, "file", s("T (05).mp4"))}),
         ".download"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string reason;
        const auto entries = JournalDocument::parse(c.bytes, &reason);
        EXPECT_EQ(entries.has_value(), *c.reason == '\0') << reason;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
        if (entries) {
            const auto again =
                JournalDocument::parse(*JournalDocument::serialize(*entries), nullptr);
            EXPECT_EQ(again, entries);
        }
    }
}

class DownloadJournalTest : public ::testing::Test {
protected:
    std::filesystem::path downloads() const { return dir.path() / "Downloads"; }
    std::filesystem::path application() const { return dir.path() / "Kestrova"; }
    std::filesystem::path journalPath() const { return dir.path() / "journal.plist"; }
    // A row for a partial file of this name written with these bytes.
    JournalEntry entryFor(const std::string& name, const std::string& bytes, std::int64_t length) {
        test::writeFile(downloads() / name, bytes);
        return JournalEntry{.url = "http://127.0.0.1/" + name,
                            .file = name,
                            .length = length,
                            .kept = 0,
                            .validator = "",
                            .inode = Files::inode(downloads() / name),
                            .title = {},
                            .episode = {}};
    }

    test::TempDir dir;
    test::RecordingLog log;
};

// Only a row whose partial file is still there as it was left goes on, with the file's real
// size; each other row is dropped with one line, and the journal then holds the kept rows only.
TEST_F(DownloadJournalTest, AtLaunchOnlyRowsWithTheirOwnPartialFileGoOn) {
    DownloadJournal first(journalPath(), log);
    first.add(entryFor("kept.bin", "12345", 10));
    first.add(entryFor("gone.bin", "1", 10));
    first.add(entryFor("grown.bin", "12345678901", 10));
    first.add(entryFor("done.bin", "1234567890", 10));
    JournalEntry replaced = entryFor("replaced.bin", "1", 10);
    first.add(replaced);
    first.add(replaced);  // named twice
    JournalEntry linked = entryFor("linked.bin", "", 10);
    std::filesystem::remove(downloads() / "linked.bin");
    std::filesystem::create_symlink(dir.path() / "elsewhere", downloads() / "linked.bin");
    first.add(linked);
    ASSERT_TRUE(first.flush());
    std::filesystem::remove(downloads() / "gone.bin");
    std::filesystem::remove(downloads() / "replaced.bin");
    test::writeFile(downloads() / "replaced.bin", "someone else's");
    test::writeFile(downloads() / "placeholder", "keeps the replaced inode from coming back");

    DownloadJournal second(journalPath(), log);
    const auto rows = second.resumable(downloads(), application());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].path, downloads() / "kept.bin");
    EXPECT_EQ(rows[0].size, 5);
    EXPECT_EQ(log.linesStartingWith("DownloadJournal -> Dropped: "),
              (std::vector<std::string>{
                  "DownloadJournal -> Dropped: gone.bin (the partial file is gone)",
                  "DownloadJournal -> Dropped: grown.bin (larger than its announced length)",
                  "DownloadJournal -> Dropped: done.bin (already complete)",
                  "DownloadJournal -> Dropped: replaced.bin (another file is in its place)",
                  "DownloadJournal -> Dropped: replaced.bin (named twice)",
                  "DownloadJournal -> Dropped: linked.bin (not a regular file)"}));
    EXPECT_EQ(test::readFile(downloads() / "replaced.bin"), "someone else's");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "elsewhere"));
    DownloadJournal third(journalPath(), log);
    EXPECT_EQ(third.resumable(downloads(), application()).size(), 1u);
}

// An unreadable journal (garbage, a link) is set aside with one line and launch goes on; what a
// link points to is neither read nor changed.
TEST_F(DownloadJournalTest, AnUnreadableJournalIsSetAside) {
    test::writeFile(dir.path() / "target", document({manualRow()}));
    for (const bool link : {false, true}) {
        link ? std::filesystem::create_symlink(dir.path() / "target", journalPath())
             : test::writeFile(journalPath(), "garbage");
        EXPECT_TRUE(
            DownloadJournal(journalPath(), log).resumable(downloads(), application()).empty());
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(journalPath())));
    }
    EXPECT_EQ(log.linesStartingWith("DownloadJournal -> Unreadable journal set aside").size(), 2u);
    EXPECT_EQ(test::readFile(dir.path() / "target"), document({manualRow()}));
}

// A full disk: the write fails with one line however often it is tried, the rows stay in memory
// and reach the file once there is room again.
TEST(DownloadJournalDisk, AFullDiskIsLoggedOnceAndSurvived) {
    test::TmpfsMount disk(64 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    test::writeFile(disk.path() / "filler", std::string(64 * 1024, 'x'));
    test::RecordingLog log;
    const auto path = disk.path() / "journal.plist";
    DownloadJournal journal(path, log);
    JournalEntry entry{.url = "http://127.0.0.1/a",
                       .file = "a",
                       .length = -1,
                       .kept = 0,
                       .validator = "",
                       .inode = 1,
                       .title = {},
                       .episode = {}};
    journal.add(entry);
    journal.add(entry);
    EXPECT_FALSE(journal.flush());
    EXPECT_EQ(log.linesStartingWith("DownloadJournal -> Failed to Save: ").size(), 1u);
    std::filesystem::remove(disk.path() / "filler");
    EXPECT_TRUE(journal.flush());
    EXPECT_EQ(JournalDocument::parse(test::readFile(path), nullptr)->size(), 2u);
}

}  // namespace
}  // namespace kestrova
