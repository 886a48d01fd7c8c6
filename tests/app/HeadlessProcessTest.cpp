// The real program in headless mode, in a temporary home folder: one Kestrova per settings
// folder, SIGTERM while a list trickles in, the demo, the hand-off, downloads that outlive a quit
// or a kill, the version.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <map>

#include "app/HandOffMessage.h"
#include "demo/DemoSite.h"
#include "download/JournalDocument.h"
#include "download/TestFiles.h"
#include "platform/plist/UserDefaults.h"
#include "platform/system/Files.h"
#include "platform/system/LocalSocket.h"
#include "support/ChildProcess.h"
#include "support/LoopbackServer.h"
#include "support/RecordingLog.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;

using test::readFile;

class HeadlessProcessTest : public ::testing::Test {
protected:
    std::filesystem::path home() const { return dir.path() / "home"; }
    std::filesystem::path logPath() const { return home() / "Documents/Kestrova/activity.log"; }
    std::filesystem::path output() const { return dir.path() / "output.txt"; }
    std::unique_ptr<test::ChildProcess> start(
        std::vector<std::string> args = {"--headless"},
        std::map<std::string, std::string> changes = {},
        test::ChildProcess::Output mode = test::ChildProcess::Output::File,
        const std::string& outputName = "output.txt") {
        Files::createDirectories(home());
        Files::createDirectories(dir.path() / "runtime");
        std::map<std::string, std::string> environment{
            {"HOME", home().string()},
            {"XDG_CONFIG_HOME", (home() / ".config").string()},
            {"XDG_RUNTIME_DIR", (dir.path() / "runtime").string()},
            {"DISPLAY", ""},
            {"WAYLAND_DISPLAY", ""},
            // Nothing listens on port 9: the launch scan fails at once.
            {"KESTROVA_SERVER_URL", "http://127.0.0.1:9"},
            {"KESTROVA_SITE_URL", "http://127.0.0.1:9/"}};
        for (auto& [name, value] : changes) environment[name] = value;
        return std::make_unique<test::ChildProcess>(KESTROVA_BINARY, args,
                                                    test::environmentWith(environment),
                                                    dir.path() / outputName, mode);
    }
    // A short command of the program (a hand-off): its exit status and what it printed.
    std::pair<std::optional<int>, std::string> run(std::vector<std::string> args) {
        const std::string name = "command-" + std::to_string(++commands) + ".txt";
        auto command = start(std::move(args), {}, test::ChildProcess::Output::File, name);
        const auto status = command->waitForExit(30s);
        return {status, readFile(dir.path() / name)};
    }
    std::filesystem::path socket() const { return home() / ".config/kestrova/kestrova.sock"; }
    // The raw answer of the running Kestrova to a message.
    std::optional<std::string> exchange(const std::string& message) const {
        const UniqueFd fd = LocalSocket::connect(socket());
        if (!fd || !LocalSocket::writeAll(fd.get(), message, 5s)) return std::nullopt;
        ::shutdown(fd.get(), SHUT_WR);
        return LocalSocket::readAll(fd.get(), 1 << 20, 5s);
    }
    bool logContains(const std::string& text) const {
        return readFile(logPath()).find(text) != std::string::npos;
    }
    std::size_t logCount(const std::string& text) const {
        const std::string log = readFile(logPath());
        std::size_t count = 0;
        for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++count;
        return count;
    }
    std::filesystem::path journal() const { return home() / ".config/kestrova/journal.plist"; }
    // Ends the running Kestrova once its partial file holds half of it and its row is journaled.
    void stopHalfWay(test::ChildProcess& kestrova, const std::filesystem::path& file,
                     std::size_t half, int signal) {
        ASSERT_TRUE(test::waitUntil(
            [&] {
                return Files::fileSize(file) == static_cast<std::int64_t>(half) &&
                       readFile(journal()).find(file.filename().string()) != std::string::npos;
            },
            20s));
        kestrova.signal(signal);
        kestrova.waitForExit(20s);
        EXPECT_EQ(Files::fileSize(file), static_cast<std::int64_t>(half));
    }

    test::TempDir dir;
    int commands = 0;
};

// The lock lives beside the settings: another runtime folder does not make a second Kestrova.
// Without a terminal (a file, a service manager) the log goes to the activity log only.
TEST_F(HeadlessProcessTest, SecondInstanceExitsWithAClearMessage) {
    auto first = start();
    ASSERT_TRUE(test::waitUntil([&] { return logContains("Application Launched."); }, 20s));
    auto second = start({"--headless"}, {{"XDG_RUNTIME_DIR", ""}}, test::ChildProcess::Output::File,
                        "second.txt");
    EXPECT_EQ(second->waitForExit(20s), 1);
    EXPECT_EQ(readFile(dir.path() / "second.txt"), "kestrova: already running\n");
    EXPECT_EQ(readFile(output()).find("Application Launched."), std::string::npos);
    first->signal(SIGTERM);
    EXPECT_EQ(first->waitForExit(20s), 0);
}

// A quit while the launch scan waits for a list that never comes does not wait for the fetch's
// 60 s timeout, and the scan does not go on after it.
TEST_F(HeadlessProcessTest, SigtermDuringAStalledListFetchExitsAtOnce) {
    test::LoopbackServer server;
    server.reply("/system/dlst.plist", {.body = std::string(1000, ' '),
                                        .delivery = test::LoopbackServer::Delivery::Stall});
    auto kestrova = start({"--headless"}, {{"KESTROVA_SERVER_URL", server.baseURL()}});
    ASSERT_TRUE(
        test::waitUntil([&] { return server.requestCount("/system/dlst.plist") == 1; }, 20s));
    kestrova->signal(SIGTERM);
    EXPECT_EQ(kestrova->waitForExit(20s), 0);
    EXPECT_TRUE(logContains("] Application Terminate.\n"));
    EXPECT_FALSE(logContains("AutoDownloadSystem -> Failed to Update Anime List."));
    // The settings were flushed to the store on the way out.
    EXPECT_TRUE(Files::exists(home() / ".config/kestrova/defaults.plist"));
}

// The demo runs the real program against its own site, in a profile of its own: the episode is
// kept there, nothing lands in the user's folders, and on a terminal the scan is shown as it
// happens.
TEST_F(HeadlessProcessTest, DemoDownloadsTheEpisodeIntoItsOwnProfile) {
    auto kestrova = start({"--demo", "--headless"}, {{"XDG_CACHE_HOME", ""}},
                          test::ChildProcess::Output::Terminal);
    const auto episode =
        home() / ".cache/kestrova-demo/home/Documents/Kestrova/ヒカリノサキ (05).mp4";
    ASSERT_TRUE(test::waitUntil([&] { return Files::exists(episode); }, 60s)) << readFile(output());
    kestrova->signal(SIGTERM);
    EXPECT_EQ(kestrova->waitForExit(20s), 0);
    const std::string shown = readFile(output());
    EXPECT_NE(shown.find("Ctrl-C quits"), std::string::npos);
    EXPECT_NE(shown.find("] AutoDownloadSystem -> Start AutoDownload: ヒカリノサキ (05)"),
              std::string::npos);
    EXPECT_NE(shown.find("/sample/kestrova-sample.bin"), std::string::npos);
    EXPECT_EQ(std::filesystem::file_size(episode), 8u * 1024 * 1024);  // the good source
    EXPECT_FALSE(Files::exists(home() / "Documents"));
    EXPECT_FALSE(Files::exists(home() / "Downloads"));
    EXPECT_FALSE(Files::exists(home() / ".config"));
}

// Addresses handed over from the command line are downloaded like the clipboard's, with the same
// checks; the status lists the download; malformed, oversized and foreign messages change
// nothing.
TEST_F(HeadlessProcessTest, AddressesHandedOverAreDownloaded) {
    test::LoopbackServer server;
    const std::string body = test::LoopbackServer::pattern(200 * 1024);
    server.reply("/a.bin", {.body = body});
    auto kestrova = start();
    ASSERT_TRUE(test::waitUntil([&] { return Files::exists(socket()); }, 20s));

    EXPECT_EQ(run({server.url("/a.bin")}).first, 0);
    const auto file = home() / "Downloads/a.bin";
    ASSERT_TRUE(test::waitUntil([&] { return readFile(file) == body; }, 20s));
    char origin[256] = {};
    const ssize_t length = ::getxattr(file.c_str(), "user.xdg.origin.url", origin, sizeof origin);
    if (length >= 0 || errno != ENOTSUP) {
        EXPECT_EQ(std::string(origin, static_cast<std::size_t>(std::max<ssize_t>(length, 0))),
                  server.url("/a.bin"));
    }
    EXPECT_TRUE(test::waitUntil(
        [&] { return run({"--status"}).second == "1\tcomplete\ta.bin\t完了\n"; }, 20s));
    EXPECT_EQ(run({"https://example.net/x"}).first, 0);  // accepted, then refused with the alert
    EXPECT_TRUE(test::waitUntil([&] { return logContains("Alert -> Kestrova エラー"); }, 20s));
    const auto refused = run({"ftp://example.net/x"});
    EXPECT_EQ(refused.first, 1);
    EXPECT_NE(refused.second.find("not an http or https address"), std::string::npos);

    // Too large: refused (the answer may be lost when the rest of the message meets a closed
    // connection), and the channel goes on.
    EXPECT_FALSE(exchange("KESTROVA 1 OPEN\n" + std::string(70'000, 'x') + "\n")
                     .value_or("")
                     .starts_with("OK"));
    EXPECT_EQ(exchange("garbage"), "ERROR malformed message\n");
    std::string many = "KESTROVA 1 OPEN\n";
    for (int i = 0; i < 101; ++i) many += "http://127.0.0.1:9/" + std::to_string(i) + "\n";
    EXPECT_EQ(exchange(many), "ERROR more than 100 addresses\n");
    if (::geteuid() == 0) {  // another user: the socket is closed to it
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setuid(65534) != 0) ::_exit(2);
            ::_exit(LocalSocket::connect(socket()) ? 1 : 0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    EXPECT_EQ(exchange(HandOffMessage::status()), "1\tcomplete\ta.bin\t完了\n");
    kestrova->signal(SIGTERM);
    EXPECT_EQ(kestrova->waitForExit(20s), 0);
}

// With no Kestrova running, handing an address over starts one; without one, --status says so.
TEST_F(HeadlessProcessTest, HandingOverStartsAKestrovaWhenNoneRuns) {
    const auto none = run({"--status"});
    EXPECT_EQ(none.first, 1);
    EXPECT_EQ(none.second, "kestrova: not running\n");
    EXPECT_EQ(run({"--headless", "http://127.0.0.1:9/nothing"}).first, 0);
    EXPECT_EQ(run({"--status"}).first, 0);
    const std::string pid = readFile(home() / ".config/kestrova/kestrova.lock");
    ASSERT_FALSE(pid.empty());
    ::kill(std::stoi(pid), SIGTERM);
    EXPECT_TRUE(test::waitUntil([&] { return !Files::exists(socket()); }, 20s));
}

// A quit (SIGTERM) or a kill keeps what was fetched, holes and all when the file came over several
// connections: the next launch asks only for the holes, with the first response's ETag, says so
// in the log and the status, and ends with the served file and its banner. A file changed on the
// server since (a new ETag, answered whole) starts again from zero.
TEST_F(HeadlessProcessTest, ADownloadStoppedHalfWayAsksOnlyForItsHolesAtTheNextLaunch) {
    using Delivery = test::LoopbackServer::Delivery;
    test::LoopbackServer server;
    const std::size_t size = 16 * 1024 * 1024;
    const std::string body = test::LoopbackServer::pattern(size);
    const std::string changed(body.rbegin(), body.rend());
    const std::vector<std::pair<std::string, std::string>> headers{{"ETag", "\"s1\""},
                                                                   {"Accept-Ranges", "bytes"}};
    const auto kept = [&] {
        const auto rows = JournalDocument::parse(readFile(journal()), nullptr)
                              .value_or(std::vector<JournalEntry>{});
        return rows.size() == 1 && !rows[0].ranges.empty() ? rows[0].kept : 0;
    };
    for (const auto& [name, signal] :
         {std::pair{"sigterm", SIGTERM}, {"kill", SIGKILL}, {"changed", SIGTERM}}) {
        SCOPED_TRACE(name);
        const bool change = std::string(name) == "changed";
        const std::string file = std::string(name) + ".bin", path = "/" + file;
        // Each request sends 1 MiB, then nothing more.
        server.replies(path, {{.body = body,
                               .delivery = Delivery::Stall,
                               .headers = headers,
                               .part = 1024 * 1024,
                               .ranges = true}});
        auto first = start();
        ASSERT_TRUE(test::waitUntil([&] { return Files::exists(socket()); }, 20s));
        ASSERT_EQ(run({server.url(path)}).first, 0);
        ASSERT_TRUE(test::waitUntil([&] { return kept() >= 4 * 1024 * 1024; }, 20s));
        first->signal(signal);
        first->waitForExit(20s);
        const std::int64_t journaled = kept();
        const std::size_t asked = server.requestCount(path);

        // Chunked: answered whole, as If-Range asks of a changed file.
        server.replies(path, {change ? test::LoopbackServer::Reply{.body = changed,
                                                                   .delivery = Delivery::Chunked,
                                                                   .headers = {{"ETag", "\"s2\""}}}
                                     : test::LoopbackServer::Reply{
                                           .body = body, .headers = headers, .ranges = true}});
        auto second = start();
        ASSERT_TRUE(test::waitUntil(
            [&] { return readFile(home() / "Downloads" / file) == (change ? changed : body); },
            20s));
        std::int64_t fetchedAgain = 0;
        const auto ranges = server.headers(path, "Range"),
                   validators = server.headers(path, "If-Range");
        for (std::size_t i = asked; i < ranges.size() && !change; ++i) {
            const std::string to = ranges[i].substr(ranges[i].find('-') + 1);
            fetchedAgain += (to.empty() ? static_cast<std::int64_t>(size) : std::stoll(to) + 1) -
                            std::stoll(ranges[i].substr(6));
            EXPECT_EQ(validators[i], "\"s1\"");
        }
        EXPECT_TRUE(change || fetchedAgain == static_cast<std::int64_t>(size) - journaled);
        EXPECT_EQ(logCount("] FileDownload -> Resumed After Restart: " + file + " (" +
                           std::to_string(journaled / 1024 / 1024) + " MB kept)\n"),
                  1u);
        EXPECT_TRUE(logContains("] Banner -> ダウンロード完了: " + file + "\n"));
        EXPECT_TRUE(test::waitUntil(
            [&] { return run({"--status"}).second == "1\tcomplete\t" + file + "\t完了\n"; }, 20s));
        second->signal(SIGTERM);
        EXPECT_EQ(second->waitForExit(20s), 0);
    }
}

// An episode stopped half-way resumes its source's file at the next launch; the launch scan,
// finding the episode again, starts no second source: it is kept once and recorded once.
TEST_F(HeadlessProcessTest, AnEpisodeStoppedHalfWayIsKeptOnceAfterARestart) {
    const std::string title = "ヒカリノサキ";
    const std::size_t size = 6 * 1024 * 1024, half = size / 2;  // above the 5 MiB mark
    const std::string body = test::LoopbackServer::pattern(size);
    test::LoopbackServer videos;
    const std::vector<std::pair<std::string, std::string>> etag{{"ETag", "\"e1\""}};
    videos.replies("/v.mp4", {{.body = body,
                               .delivery = test::LoopbackServer::Delivery::Stall,
                               .headers = etag,
                               .part = half},
                              {.body = body, .headers = etag, .ranges = true}});
    DemoSite site;
    const PlistValue list = PlistValue::array({DemoSite::animeRecord(title, {title})});
    site.setDownloadList(list);
    site.setTopPage(DemoSite::topPage({DemoSite::titleBlock("w/5", title)}, {}));
    site.setPage("w/5", DemoSite::episodePage(title + " 第5話 HD", videos.url("/v.mp4"), {}));
    test::RecordingLog log;
    UserDefaults defaults(home() / ".config/kestrova/defaults.plist", log);
    defaults.setObject(PlistValue::boolean(true), "useAutoDownloadSystem");
    defaults.setObject(list, "autoDownloadList");
    const std::map<std::string, std::string> urls{{"KESTROVA_SERVER_URL", site.serverURL()},
                                                  {"KESTROVA_SITE_URL", site.siteURL()}};
    const auto folder = home() / "Documents/Kestrova";

    auto first = start({"--headless"}, urls);
    stopHalfWay(*first, folder / (title + " (05).download"), half, SIGTERM);
    auto second = start({"--headless"}, urls);
    const auto episode = folder / (title + " (05).mp4");
    ASSERT_TRUE(test::waitUntil(
        [&] {
            return readFile(episode) == body &&
                   logCount("] AutoDownloadSystem -> Start AutoDownload: " + title + " (05)") == 2;
        },
        30s));
    second->signal(SIGTERM);
    EXPECT_EQ(second->waitForExit(20s), 0);
    EXPECT_EQ(videos.requestCount("/v.mp4"), 2u);
    EXPECT_EQ(logCount("AutoDownloadSystem -> Download Complete: "), 1u);
    EXPECT_EQ(test::filesIn(folder), (std::map<std::string, std::uintmax_t>{
                                         {"activity.log", Files::fileSize(logPath()).value_or(0)},
                                         {title + " (05).mp4", size}}));
    PlistValue::Array fifth(6, PlistValue::boolean(false));
    fifth[5] = PlistValue::boolean(true);
    UserDefaults stored(home() / ".config/kestrova/defaults.plist", log);
    stored.load();
    EXPECT_EQ(stored.dictionaryForKey("downloadedEpisodeList"),
              PlistValue::dictionary({{title, PlistValue::array(fifth)}}));
}

TEST_F(HeadlessProcessTest, VersionAndUsage) {
    auto version = start({"--version"});
    EXPECT_EQ(version->waitForExit(10s), 0);
    EXPECT_EQ(readFile(output()), std::string("kestrova ") + KESTROVA_VERSION + "\n");
    auto bad = start({"--frobnicate"});
    EXPECT_EQ(bad->waitForExit(10s), 2);
}

}  // namespace
}  // namespace kestrova
