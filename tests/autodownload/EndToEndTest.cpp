// The real program against the fixture site: a first launch finds the new episode, races its
// two sources into "<title> (05).mp4" and records it; a second launch finds it downloaded.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "fixtures/FixtureSite.h"
#include "platform/PlistIO.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;
using test::FixtureSite;

const std::string kTitle = "ヒカリノサキ";
const std::string kEpisodeName = kTitle + " (05)";
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

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(site.start());
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

    test::TempDir tempDir;
    const std::filesystem::path home = tempDir.path() / "home";
    FixtureSite site;
};

TEST_F(EndToEndTest, DownloadsRecordsAndThenKnowsTheEpisode) {
    const std::filesystem::path episodeFile = folder() / (kEpisodeName + ".mp4");
    auto first = launch("first.out");
    ASSERT_TRUE(first->started());
    EXPECT_TRUE(test::waitUntil(
        [&] { return std::filesystem::exists(episodeFile) && episodeRecorded(); }, 60s));
    stop(*first);
    ASSERT_TRUE(std::filesystem::exists(episodeFile));
    EXPECT_EQ(std::filesystem::file_size(episodeFile), kVideoBytes);
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

}  // namespace
}  // namespace kestrova
