// The real program on a home where an earlier run stored its lists and left a download
// unfinished: the leftover goes at launch, and the scan gets the stored lists, so it finds the
// served list unchanged and the episode downloaded. A download itself is the demo's business.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>

#include "demo/DemoSite.h"
#include "download/TestFiles.h"
#include "platform/plist/PlistIO.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(EndToEndTest, LaunchRemovesLeftoversAndScansWithTheStoredLists) {
    const std::string title = "ヒカリノサキ";
    const PlistValue f = PlistValue::boolean(false), t = PlistValue::boolean(true);
    const PlistValue list = PlistValue::array({DemoSite::animeRecord(title, {title})});
    test::TempDir home;
    const fs::path folder = home.path() / "Documents/Kestrova", config = home.path() / ".config";
    fs::create_directories(folder);
    fs::create_directories(config / "kestrova");
    fs::permissions(home.path(), fs::perms::owner_all);  // it is the runtime folder too
    std::ofstream(folder / "earlier (01).download") << "left by a run that was killed";
    std::ofstream(config / "kestrova/defaults.plist") << *PlistIO::toXml(PlistValue::dictionary(
        {{"useAutoDownloadSystem", t},
         {"autoDownloadList", list},
         {"downloadedEpisodeList",
          PlistValue::dictionary({{title, PlistValue::array({f, f, f, f, f, t})}})}}));
    DemoSite site;
    site.setDownloadList(list);
    site.setTopPage(DemoSite::topPage({DemoSite::titleBlock("w/5", title)}, {}));
    site.setPage("w/5", DemoSite::episodePage(title + " 第5話 HD", site.siteURL() + "v/1", {}));

    test::ChildProcess program(KESTROVA_BINARY, {"--headless"},
                               test::environmentWith({{"HOME", home.path()},
                                                      {"XDG_CONFIG_HOME", config},
                                                      {"XDG_RUNTIME_DIR", home.path()},
                                                      {"KESTROVA_SERVER_URL", site.serverURL()},
                                                      {"KESTROVA_SITE_URL", site.siteURL()}}),
                               home.path() / "output");
    const auto log = [&] { return test::readFile(folder / "activity.log"); };
    const std::string done = "AutoDownloadSystem -> Already Downloaded: " + title + " (05)\n";
    EXPECT_TRUE(test::waitUntil([&] { return log().find(done) != std::string::npos; }, 60s));
    program.signal(SIGTERM);
    EXPECT_EQ(program.waitForExit(20s), 0);
    EXPECT_EQ(log().find("Update Anime List."), std::string::npos);
    EXPECT_FALSE(fs::exists(folder / "earlier (01).download"));
}

}  // namespace
}  // namespace kestrova
