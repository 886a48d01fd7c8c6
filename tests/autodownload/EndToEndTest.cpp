// The real program against the fixture site: a first launch removes what an earlier run left
// unfinished, finds the new episode, races its two sources into "<title> (05).mp4" and records
// it; a second launch finds it downloaded. Titles with "/" and titles too long for a file name
// take the same road.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

#include "fixtures/FixtureSite.h"
#include "platform/plist/PlistIO.h"
#include "support/ChildProcess.h"
#include "support/ParamName.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;
using test::FixtureSite;

constexpr std::uint64_t kVideoBytes = 6u * 1024u * 1024u;  // above the 5 MiB of "time" 1

// The messages of the activity log, without their time stamps and process tags.
std::vector<std::string> logMessages(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> messages;
    for (std::string line; std::getline(in, line);) {
        const std::size_t tag = line.find("] ");
        if (tag != std::string::npos) messages.push_back(line.substr(tag + 2));
    }
    return messages;
}

// Whether expected occurs in messages in this order, other lines allowed in between.
bool inOrder(const std::vector<std::string>& messages, const std::vector<std::string>& expected) {
    auto at = messages.begin();
    for (const std::string& line : expected) {
        at = std::find(at, messages.end(), line);
        if (at == messages.end()) return false;
        ++at;
    }
    return true;
}

struct TitleCase {
    const char* name;
    std::string title;
    std::string fileStem;  // how the episode file's name begins
};

class EndToEndTest : public ::testing::TestWithParam<TitleCase> {
protected:
    void SetUp() override {
        std::filesystem::create_directories(folder());
        std::ofstream(folder() / "earlier (01).download") << "left by a run that was killed";
        ASSERT_TRUE(site.running());
        site.setDownloadList(PlistValue::array({FixtureSite::animeRecord(kTitle, {kTitle})}));
        site.setVideo("v/5-1.mp4", kVideoBytes);
        site.setVideo("v/5-2.mp4", kVideoBytes);
        site.setPage("watch/5.html",
                     FixtureSite::episodePage(kTitle + " 第5話 HD", site.siteURL() + "v/5-1.mp4",
                                              {site.siteURL() + "v/5-2.mp4"}));
        site.setTopPage(
            FixtureSite::topPage({FixtureSite::titleBlock("watch/1.html", "よその作品 第1話"),
                                  FixtureSite::titleBlock("watch/5.html", kTitle + " 第5話 HD")},
                                 {}));
        std::filesystem::create_directories(config() / "kestrova");
        std::filesystem::create_directories(home / "run");
        std::filesystem::permissions(home / "run", std::filesystem::perms::owner_all);
        std::ofstream(config() / "kestrova" / "defaults.plist") << *PlistIO::toXml(
            PlistValue::dictionary({{"useAutoDownloadSystem", PlistValue::boolean(true)}}));
    }

    std::filesystem::path config() const { return home / ".config"; }
    std::filesystem::path folder() const { return home / "Documents" / "Kestrova"; }

    std::unique_ptr<test::ChildProcess> launch(const std::string& outputName) {
        std::map<std::string, std::string> environment{{"HOME", home.string()},
                                                       {"XDG_CONFIG_HOME", config().string()},
                                                       {"XDG_RUNTIME_DIR", (home / "run").string()},
                                                       {"KESTROVA_SERVER_URL", site.serverURL()},
                                                       {"KESTROVA_SITE_URL", site.siteURL()},
                                                       {"PATH", "/usr/bin:/bin"}};
        // A sanitizer build of the program reports the way the test run asked for.
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
            if (const char* value = std::getenv(name)) environment[name] = value;
        }
        return std::make_unique<test::ChildProcess>(KESTROVA_BINARY,
                                                    std::vector<std::string>{"--headless"},
                                                    environment, tempDir.path() / outputName);
    }

    bool episodeRecorded() const {
        const auto stored = PlistIO::readFile(config() / "kestrova" / "defaults.plist");
        const PlistValue* record = stored ? stored->find("downloadedEpisodeList") : nullptr;
        const PlistValue* flags = record ? record->find(kTitle) : nullptr;
        const PlistValue::Array* list = flags ? flags->asArray() : nullptr;
        return list != nullptr && list->size() == 6 && list->back().isTrue() &&
               std::none_of(list->begin(), list->end() - 1,
                            [](const PlistValue& f) { return f.isTrue(); });
    }

    std::size_t countOf(const std::string& message) const {
        const auto messages = logMessages(folder() / "activity.log");
        return static_cast<std::size_t>(std::count(messages.begin(), messages.end(), message));
    }

    static void stop(test::ChildProcess& program) {
        program.signal(SIGTERM);
        EXPECT_EQ(program.waitForExit(20s), 0);
    }

    const std::string kTitle = GetParam().title;
    const std::string kEpisodeName = kTitle + " (05)";
    test::TempDir tempDir;
    const std::filesystem::path home = tempDir.path() / "home";
    FixtureSite site;
};

// The one episode file in the folder, or nothing.
std::optional<std::filesystem::path> episodeFile(const std::filesystem::path& folder) {
    std::optional<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".mp4") continue;
        if (found) return std::nullopt;
        found = entry.path();
    }
    return found;
}

TEST_P(EndToEndTest, DownloadsRecordsAndThenKnowsTheEpisode) {
    auto first = launch("first.out");
    ASSERT_TRUE(first->started());
    EXPECT_TRUE(test::waitUntil([&] { return episodeFile(folder()) && episodeRecorded(); }, 60s));
    stop(*first);
    const auto file = episodeFile(folder());
    ASSERT_TRUE(file);
    const std::string name = file->filename().string();
    EXPECT_EQ(std::filesystem::file_size(*file), kVideoBytes);
    EXPECT_TRUE(name.starts_with(GetParam().fileStem) && name.ends_with(" (05).mp4")) << name;
    EXPECT_LE(name.size(), 255u);
    const std::string p = "AutoDownloadSystem -> ";
    EXPECT_TRUE(inOrder(
        logMessages(folder() / "activity.log"),
        {"Application Launched.", p + "Update Anime List.", p + "Start Analyze.",
         p + "Get HTML: Top Page.", p + "Search Keyword: " + kTitle + " in " + kTitle,
         p + "Match Keyword: " + kTitle + " in " + kTitle, p + "Get Page: " + kTitle + " 第5話 HD",
         p + "HD Movie Detected: " + kEpisodeName, p + "Start AutoDownload: " + kEpisodeName,
         p + "Terminate Analyze.", "Application Terminate."}));
    for (const auto& entry : std::filesystem::directory_iterator(folder())) {
        EXPECT_NE(entry.path().extension(), ".download") << entry.path();
    }

    auto second = launch("second.out");
    ASSERT_TRUE(second->started());
    EXPECT_TRUE(test::waitUntil([&] { return countOf(p + "Terminate Analyze.") == 2; }, 30s));
    stop(*second);
    const auto messages = logMessages(folder() / "activity.log");
    const auto secondRun = std::find(messages.rbegin(), messages.rend(), "Application Launched.");
    const std::vector<std::string> secondLines(secondRun.base() - 1, messages.end());
    EXPECT_TRUE(inOrder(secondLines, {"Application Launched.", p + "Start Analyze.",
                                      p + "HD Movie Detected: " + kEpisodeName,
                                      p + "Already Downloaded: " + kEpisodeName,
                                      p + "Terminate Analyze.", "Application Terminate."}));
    // The list was unchanged, and nothing was requested again.
    EXPECT_EQ(std::count(secondLines.begin(), secondLines.end(), p + "Update Anime List."), 0);
    EXPECT_EQ(std::count(secondLines.begin(), secondLines.end(),
                         p + "Start AutoDownload: " + kEpisodeName),
              0);
}

std::string repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Titles, EndToEndTest,
    ::testing::Values(TitleCase{"Plain", "ヒカリノサキ", "ヒカリノサキ (05).mp4"},
                      TitleCase{"Slash", "Re/Start", "Re／Start (05).mp4"},
                      TitleCase{"LongerThanAFileName", repeated("あ", 120), repeated("あ", 60)}),
    test::ParamName());

}  // namespace
}  // namespace kestrova
