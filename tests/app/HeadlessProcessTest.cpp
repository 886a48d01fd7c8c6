// The real program in headless mode, in a temporary home folder: launch, the activity log,
// SIGTERM, the version and a corrupt settings file.
#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>

#include "platform/Files.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

class HeadlessProcessTest : public ::testing::Test {
protected:
    std::filesystem::path home() const { return dir.path() / "home"; }
    std::filesystem::path logPath() const { return home() / "Documents/Kestrova/activity.log"; }
    std::filesystem::path output() const { return dir.path() / "output.txt"; }
    std::unique_ptr<test::ChildProcess> start(std::vector<std::string> args = {"--headless"}) {
        Files::createDirectories(home());
        Files::createDirectories(dir.path() / "runtime");
        return std::make_unique<test::ChildProcess>(
            KESTROVA_BINARY, args,
            test::environmentWith({{"HOME", home().string()},
                                   {"XDG_CONFIG_HOME", (home() / ".config").string()},
                                   {"XDG_RUNTIME_DIR", (dir.path() / "runtime").string()},
                                   {"DISPLAY", ""},
                                   {"WAYLAND_DISPLAY", ""},
                                   // Nothing listens on port 9: the launch scan fails at once.
                                   {"KESTROVA_SERVER_URL", "http://127.0.0.1:9"},
                                   {"KESTROVA_SITE_URL", "http://127.0.0.1:9/"}}),
            output());
    }
    bool logContains(const std::string& text) const {
        return readAll(logPath()).find(text) != std::string::npos;
    }

    test::TempDir dir;
};

TEST_F(HeadlessProcessTest, LaunchesIntoTheActivityLogAndQuitsOnSigterm) {
    auto kestrova = start();
    ASSERT_TRUE(kestrova->started());
    ASSERT_TRUE(test::waitUntil([&] { return logContains("Application Launched."); }, 20s))
        << readAll(output());
    const std::string first = readAll(logPath()).substr(0, readAll(logPath()).find('\n'));
    EXPECT_TRUE(first.size() > 21 && first.ends_with("] Application Launched.")) << first;
    kestrova->signal(SIGTERM);
    EXPECT_EQ(kestrova->waitForExit(20s), 0);
    EXPECT_TRUE(logContains("] Application Terminate.\n"));
    // The settings were flushed to the store.
    EXPECT_TRUE(Files::exists(home() / ".config/kestrova/defaults.plist"));
}

TEST_F(HeadlessProcessTest, CorruptSettingsAreKeptAsideNotLost) {
    Files::createDirectories(home() / ".config/kestrova");
    std::ofstream(home() / ".config/kestrova/defaults.plist") << "garbage, not a plist";
    auto kestrova = start();
    ASSERT_TRUE(test::waitUntil([&] { return logContains("Application Launched."); }, 20s));
    kestrova->signal(SIGINT);
    EXPECT_EQ(kestrova->waitForExit(20s), 0);
    bool kept = false;
    for (const auto& e : std::filesystem::directory_iterator(home() / ".config/kestrova")) {
        if (e.path().filename().string().starts_with("defaults.plist.corrupt-")) {
            kept = readAll(e.path()) == "garbage, not a plist";
        }
    }
    EXPECT_TRUE(kept);
}

TEST_F(HeadlessProcessTest, SecondInstanceExitsWithAClearMessage) {
    auto first = start();
    ASSERT_TRUE(test::waitUntil([&] { return logContains("Application Launched."); }, 20s));
    auto second = start();
    EXPECT_EQ(second->waitForExit(20s), 1);
    EXPECT_NE(readAll(output()).find("kestrova: already running"), std::string::npos);
    first->signal(SIGTERM);
    EXPECT_EQ(first->waitForExit(20s), 0);
}

TEST_F(HeadlessProcessTest, VersionAndUsage) {
    auto version = start({"--version"});
    EXPECT_EQ(version->waitForExit(10s), 0);
    EXPECT_EQ(readAll(output()), std::string("kestrova ") + KESTROVA_VERSION + "\n");
    auto bad = start({"--frobnicate"});
    EXPECT_EQ(bad->waitForExit(10s), 2);
}

}  // namespace
}  // namespace kestrova
