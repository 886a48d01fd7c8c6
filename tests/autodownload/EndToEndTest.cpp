// The real program against the demo site, launched twice in a temporary home. The first run
// removes what an earlier run left unfinished, finds the new episode, races its two sources into
// "<title> (05).mp4" and records it; the second, given the stored lists, finds it downloaded and
// requests nothing. Each step on its own, and how a title becomes a file name, is the lower
// layers' tests' business.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <fstream>

#include "demo/DemoSite.h"
#include "platform/plist/PlistIO.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(EndToEndTest, DownloadsRecordsAndThenKnowsTheEpisode) {
    const std::string title = "ヒカリノサキ", episode = title + " (05)";
    test::TempDir home;
    const fs::path folder = home.path() / "Documents" / "Kestrova";
    const fs::path settings = home.path() / ".config" / "kestrova" / "defaults.plist";
    fs::create_directories(folder);
    fs::create_directories(settings.parent_path());
    fs::permissions(home.path(), fs::perms::owner_all);  // it is the runtime folder too
    std::ofstream(folder / "earlier (01).download") << "left by a run that was killed";
    std::ofstream(settings) << *PlistIO::toXml(
        PlistValue::dictionary({{"useAutoDownloadSystem", PlistValue::boolean(true)}}));
    DemoSite site;
    ASSERT_TRUE(site.running());
    site.setDownloadList(PlistValue::array({DemoSite::animeRecord(title, {title})}));
    site.setTopPage(DemoSite::topPage(
        {DemoSite::titleBlock("w/1", "よその作品 第1話"), DemoSite::titleBlock("w/5", title)}, {}));
    const std::string v = site.siteURL() + "v/";
    site.setPage("w/5", DemoSite::episodePage(title + " 第5話 HD", v + "1", {v + "2"}));
    constexpr std::uint64_t kVideoBytes = 6u * 1024u * 1024u;  // above the 5 MiB of "time" 1
    site.setVideo("v/1", kVideoBytes);
    site.setVideo("v/2", kVideoBytes);

    std::map<std::string, std::string> environment{{"HOME", home.path()},
                                                   {"XDG_CONFIG_HOME", home.path() / ".config"},
                                                   {"XDG_RUNTIME_DIR", home.path()},
                                                   {"KESTROVA_SERVER_URL", site.serverURL()},
                                                   {"KESTROVA_SITE_URL", site.siteURL()},
                                                   {"PATH", "/usr/bin:/bin"}};
    // A sanitizer build of the program reports the way the test run asked for.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
        if (const char* value = std::getenv(name)) environment[name] = value;
    }
    // Runs the program until done() holds, then quits it as the session would.
    const auto run = [&](const std::string& output, const std::function<bool()>& done) {
        test::ChildProcess program(KESTROVA_BINARY, {"--headless"}, environment,
                                   home.path() / output);
        EXPECT_TRUE(program.started());
        EXPECT_TRUE(test::waitUntil(done, 60s));
        program.signal(SIGTERM);
        EXPECT_EQ(program.waitForExit(20s), 0);
    };
    // How often the activity log holds message as a line of its own.
    const auto logged = [&](const std::string& message) {
        std::ifstream log(folder / "activity.log");
        int count = 0;
        for (std::string line; std::getline(log, line);) count += line.ends_with("] " + message);
        return count;
    };
    const auto files = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    };
    const PlistValue f = PlistValue::boolean(false), t = PlistValue::boolean(true);
    const PlistValue recorded =
        PlistValue::dictionary({{title, PlistValue::array({f, f, f, f, f, t})}});
    const auto episodeRecord = [&] {
        const auto stored = PlistIO::readFile(settings);
        const PlistValue* record = stored ? stored->find("downloadedEpisodeList") : nullptr;
        return record ? *record : PlistValue();
    };

    run("first.out", [&] { return files().size() == 2 && episodeRecord() == recorded; });
    ASSERT_EQ(files(), (std::vector<std::string>{"activity.log", episode + ".mp4"}));
    EXPECT_EQ(fs::file_size(folder / (episode + ".mp4")), kVideoBytes);

    const std::string p = "AutoDownloadSystem -> ";
    run("second.out", [&] { return logged(p + "Already Downloaded: " + episode) == 1; });
    EXPECT_EQ(logged("Application Launched."), 2);
    EXPECT_EQ(logged(p + "Update Anime List."), 1);  // the list was unchanged the second time
    EXPECT_EQ(logged(p + "Start AutoDownload: " + episode), 1);
}

}  // namespace
}  // namespace kestrova
