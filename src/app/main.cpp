// Kestrova's entry: reads the command line, hands addresses to a running Kestrova or picks the
// desktop or the headless backend, builds the platform services around it and runs the
// application until it quits.
#include <curl/curl.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "app/HandOffClient.h"
#include "app/HandOffServer.h"
#include "app/TerminalProgress.h"
#include "demo/DemoContent.h"
#include "demo/DemoProfile.h"
#include "demo/DemoSite.h"
#include "platform/RunLoop.h"
#include "platform/headless/HeadlessBackend.h"
#include "platform/plist/Bundle.h"
#include "platform/runtime/ProcessPlatform.h"
#include "platform/runtime/SignalWatcher.h"
#include "platform/system/Environment.h"
#include "platform/system/Files.h"
#include "platform/system/SingleInstanceLock.h"
#include "platform/system/StderrLog.h"
#include "platform/system/Terminal.h"
#ifdef KESTROVA_HAVE_QT
#include "platform/qt/QtBackend.h"
#endif

namespace {

using namespace kestrova;

constexpr const char* kUsage =
    "Usage: kestrova [--headless] [--demo] [URL...]\n"
    "       kestrova --status | --version | --help\n"
    "\n"
    "A tray downloader: copy an http address and choose \"ペーストボードからダウンロード\"\n"
    "from the ⬇ item, or let it fetch new episodes of the anime you follow.\n"
    "\n"
    "  URL...      hand the addresses to the running Kestrova (one is started when none\n"
    "              runs), which downloads them like the clipboard command\n"
    "  --status    print the running Kestrova's downloads: id, status, name, progress\n"
    "  --headless  run without any desktop service (alerts and banners go to the log)\n"
    "  --demo      run against a demo site on this machine, in a throwaway profile under\n"
    "              ${XDG_CACHE_HOME:-~/.cache}/kestrova-demo (cleared at every demo run)\n"
    "  --version   print the version and exit\n"
    "  --help      print this help and exit\n"
    "\n"
    "Environment: KESTROVA_SERVER_URL (the maker's server), KESTROVA_SITE_URL (the video\n"
    "site's top page). Settings: $XDG_CONFIG_HOME/kestrova/defaults.plist; the boolean\n"
    "\"allowHTTPS\" there (default false) lets https addresses through, with the certificate\n"
    "checked against the system's store. Activity log: ~/Documents/Kestrova/activity.log.\n";

struct Options {
    bool headless = false;
    bool demo = false;
    bool status = false;
    std::vector<std::string> addresses;
};

// The options, or the exit status when the command line is done with (help, version, errors).
std::optional<Options> parse(int argc, char** argv, int& exitStatus) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--version") {
            std::printf("kestrova %s\n", Bundle::main().shortVersionString().c_str());
            exitStatus = 0;
            return std::nullopt;
        }
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            exitStatus = 0;
            return std::nullopt;
        }
        if (argument == "--headless" || argument == "--demo" || argument == "--status") {
            (argument == "--headless" ? options.headless
             : argument == "--demo"   ? options.demo
                                      : options.status) = true;
        } else if (argument.rfind("--", 0) == 0) {
            std::fprintf(stderr, "kestrova: unknown option '%s'\n\n%s", argv[i], kUsage);
            exitStatus = 2;
            return std::nullopt;
        } else {
            options.addresses.push_back(argument);
        }
    }
    return options;
}

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~CurlGlobal() { curl_global_cleanup(); }
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;
};

bool displayAvailable() {
    return Environment::value("DISPLAY") || Environment::value("WAYLAND_DISPLAY");
}

// Where this run keeps its things, and what it talks to.
struct Session {
    Files files;
    Configuration config;
};

// Hands the addresses (or the status question) to the Kestrova of these settings.
int handOff(const Options& options, const Files& files) {
    std::vector<std::string> launch{"kestrova"};
    if (options.headless) launch.emplace_back("--headless");
    if (options.demo) launch.emplace_back("--demo");
    const HandOffClient client(HandOffServer::defaultPath(files.configDirectory()), launch);
    return options.status ? client.printStatus() : client.open(options.addresses);
}

// The demo's site and profile, and what it tells the user; nothing when they cannot be made.
std::optional<Session> startDemo(const DemoProfile& profile, DemoSite& site) {
    std::string error;
    if (!site.running() || !profile.prepare(error)) {
        std::fprintf(stderr, "kestrova: the demo cannot start: %s\n",
                     site.running() ? error.c_str() : "no free port on 127.0.0.1");
        return std::nullopt;
    }
    const std::string sample = DemoContent::install(site);
    std::printf(
        "Kestrova demo: a maker's server and a video site on this machine, and a throwaway\n"
        "profile in %s\n(cleared at every demo run; your own settings and folders are not "
        "touched).\n"
        "  Within seconds the scan finds \"%s\" in the site's ranking and races its three\n"
        "  sources (one too small, one slow, one good): the good one is kept as\n"
        "  %s/%s.mp4\n"
        "  Try a clipboard download: copy %s\n"
        "  and choose \"ペーストボードからダウンロード\" in the ⬇ menu, or hand it over with\n"
        "  kestrova --demo %s\n\n",
        profile.root().c_str(), DemoContent::kTitle, profile.files().applicationDirectory().c_str(),
        DemoContent::kEpisodeName, sample.c_str(), sample.c_str());
    std::fflush(stdout);
    return Session{profile.files(), Configuration::make(site.serverURL(), site.siteURL())};
}

// The first lines on the terminal of a headless run: where things are, how to stop.
void greet(Terminal& terminal, const Files& files) {
    terminal.printLine("Kestrova " + Bundle::main().shortVersionString() +
                       " runs without a desktop; Ctrl-C quits. Its log follows.");
    terminal.printLine("  Activity log: " +
                       (files.applicationDirectory() / "activity.log").string());
    terminal.printLine("  Settings:     " +
                       (files.configDirectory() / "kestrova" / "defaults.plist").string());
    terminal.printLine("  Downloads:    " + files.downloadsDirectory().string() + " (clipboard), " +
                       files.applicationDirectory().string() + " (episodes)");
}

int runKestrova(Backend& backend, SystemLog& log, const Session& session, Terminal* terminal) {
    ProcessPlatform platform(backend, log, session.files, session.config, Bundle::main());
    Application& application = platform.application();
    AppDelegate delegate(platform.services());
    application.setDelegate(&delegate);
    std::optional<TerminalProgress> progress;
    if (terminal != nullptr) progress.emplace(platform.services().center, *terminal);
    // SIGINT and SIGTERM quit the normal way, without asking. A fetch blocking the main thread
    // (the update check) is woken first, so that the quit is handled at once.
    Cancellation& shutdown = platform.shutdown();
    SignalWatcher signalWatcher([&] {
        shutdown.cancel();
        backend.runLoop().post([&application] { application.terminateWithoutAsking(); });
    });
    return application.run();
}

}  // namespace

int main(int argc, char** argv) {
    int exitStatus = 0;
    const std::optional<Options> options = parse(argc, argv, exitStatus);
    if (!options) return exitStatus;
    const Files user = Files::fromEnvironment();
    const DemoProfile profile(DemoProfile::defaultRoot(user));
    if (options->status || !options->addresses.empty()) {
        return handOff(*options, options->demo ? profile.files() : user);
    }
#ifdef KESTROVA_HAVE_QT
    const bool desktop = !options->headless && displayAvailable();
#else
    const bool desktop = false;
#endif

    // Before any thread exists: signals go to the watcher only, a closed socket or a file-size
    // limit fails the write that met it instead of killing the process.
    SignalWatcher::blockSignals();
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    const CurlGlobal curl;

    // Headless on a terminal, the log is shown there too (it goes into the activity log as
    // always); under a service manager nothing changes.
    std::optional<Terminal> terminal;
    if (!desktop) {
        if (auto fd = Terminal::standardErrorIfTerminal()) terminal.emplace(std::move(fd));
    }
    StderrLog log(terminal ? &*terminal : nullptr);

    // One Kestrova per settings folder, in either mode: two would share the settings and the
    // activity log and both scan for episodes, downloading each twice.
    const SingleInstanceLock lock(options->demo
                                      ? profile.lockPath()
                                      : SingleInstanceLock::defaultPath(user.configDirectory()));
    if (lock.status() == SingleInstanceLock::Status::AlreadyRunning) {
        std::fputs("kestrova: already running\n", stderr);
        return 1;
    }
    if (lock.status() == SingleInstanceLock::Status::Unavailable) {
        std::fprintf(stderr, "kestrova: no single-instance lock (%s); going on without it\n",
                     lock.error().c_str());
    }
    std::optional<DemoSite> site;
    std::optional<Session> session;
    if (options->demo) {
        session = startDemo(profile, site.emplace());
        if (!session) return 1;
    } else {
        session = Session{user, Configuration::fromEnvironment()};
    }

#ifdef KESTROVA_HAVE_QT
    if (desktop) {
        auto backend = qt::QtBackend::create(argc, argv, log, session->files);
        if (!backend) return 1;
        return runKestrova(*backend, log, *session, nullptr);
    }
#endif
    if (terminal) greet(*terminal, session->files);
    HeadlessBackend backend(log);
    return runKestrova(backend, log, *session, terminal ? &*terminal : nullptr);
}
