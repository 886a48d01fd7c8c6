// Kestrova's entry: reads the command line, picks the desktop or the headless backend, builds
// the platform services around it and runs the application until it quits.
#include <curl/curl.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "app/AppDelegate.h"
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

constexpr const char* kUsage =
    "Usage: kestrova [--headless] [--demo] [--version] [--help]\n"
    "\n"
    "A tray downloader: copy an http address and choose \"ペーストボードからダウンロード\"\n"
    "from the ⬇ item, or let it fetch new episodes of the anime you follow.\n"
    "\n"
    "  --headless  run without any desktop service (alerts and banners go to the log)\n"
    "  --demo      run against a demo site on this machine, in a throwaway profile under\n"
    "              ${XDG_CACHE_HOME:-~/.cache}/kestrova-demo (cleared at every demo run)\n"
    "  --version   print the version and exit\n"
    "  --help      print this help and exit\n"
    "\n"
    "Environment: KESTROVA_SERVER_URL (the maker's server), KESTROVA_SITE_URL (the video\n"
    "site's top page). Settings: $XDG_CONFIG_HOME/kestrova/defaults.plist. Activity log:\n"
    "~/Documents/Kestrova/activity.log.\n";

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~CurlGlobal() { curl_global_cleanup(); }
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;
};

bool displayAvailable() {
    using kestrova::Environment;
    return Environment::value("DISPLAY") || Environment::value("WAYLAND_DISPLAY");
}

// Where this run keeps its things, and what it talks to.
struct Session {
    kestrova::Files files;
    kestrova::Configuration config;
};

// The demo's site and profile, and what it tells the user; nothing when they cannot be made.
std::optional<Session> startDemo(const kestrova::Files& user, kestrova::DemoSite& site) {
    using namespace kestrova;
    const DemoProfile profile(DemoProfile::defaultRoot(user));
    std::string error;
    if (!site.running() || !profile.prepare(error)) {
        std::fprintf(stderr, "kestrova: the demo cannot start: %s\n",
                     site.running() ? error.c_str() : "no free port on 127.0.0.1");
        return std::nullopt;
    }
    const std::string sample = DemoContent::install(site);
    std::printf(
        "Kestrova demo: a maker's server and a video site on this machine, and a throwaway\n"
        "profile in %s (cleared at every demo run; your own settings and folders are not\n"
        "touched).\n"
        "  Within seconds the scan finds \"%s\" in the site's ranking and races its three\n"
        "  sources (one too small, one slow, one good): the good one is kept as\n"
        "  %s/%s.mp4\n"
        "  Try a clipboard download: copy %s\n"
        "  and choose \"ペーストボードからダウンロード\" in the ⬇ menu.\n\n",
        profile.root().c_str(), DemoContent::kTitle, profile.files().applicationDirectory().c_str(),
        DemoContent::kEpisodeName, sample.c_str());
    std::fflush(stdout);
    return Session{profile.files(), Configuration::make(site.serverURL(), site.siteURL())};
}

// The first lines on the terminal of a headless run: where things are, how to stop.
void greet(kestrova::Terminal& terminal, const kestrova::Files& files) {
    using kestrova::Bundle;
    terminal.printLine("Kestrova " + Bundle::main().shortVersionString() +
                       " runs without a desktop; Ctrl-C quits. Its log follows.");
    terminal.printLine("  Activity log: " +
                       (files.applicationDirectory() / "activity.log").string());
    terminal.printLine("  Settings:     " +
                       (files.configDirectory() / "kestrova" / "defaults.plist").string());
    terminal.printLine("  Downloads:    " + files.downloadsDirectory().string() + " (clipboard), " +
                       files.applicationDirectory().string() + " (episodes)");
}

int runKestrova(kestrova::Backend& backend, kestrova::SystemLog& log, const Session& session,
                kestrova::Terminal* terminal) {
    using namespace kestrova;
    ProcessPlatform platform(backend, log, session.files, session.config, Bundle::main());
    Application& application = platform.application();
    AppDelegate delegate(platform.services());
    application.setDelegate(&delegate);
    std::optional<TerminalProgress> progress;
    if (terminal != nullptr) progress.emplace(platform.services().center, *terminal);
    // SIGINT and SIGTERM quit the normal way, without asking. A fetch blocking the main thread
    // (the update check) is woken first, so that the quit is handled at once.
    Cancellation& shutdown = platform.shutdown();
    SignalWatcher signals([&] {
        shutdown.cancel();
        backend.runLoop().post([&application] { application.terminateWithoutAsking(); });
    });
    return application.run();
}

}  // namespace

int main(int argc, char** argv) {
    bool headless = false;
    bool demo = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("kestrova %s\n", kestrova::Bundle::main().shortVersionString().c_str());
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--headless") == 0 || std::strcmp(argv[i], "--demo") == 0) {
            (argv[i][2] == 'h' ? headless : demo) = true;
            continue;
        }
        std::fprintf(stderr, "kestrova: unknown option '%s'\n\n%s", argv[i], kUsage);
        return 2;
    }
#ifdef KESTROVA_HAVE_QT
    const bool desktop = !headless && displayAvailable();
#else
    const bool desktop = false;
#endif

    // Before any thread exists: signals go to the watcher only, a closed socket or a file-size
    // limit fails the write that met it instead of killing the process.
    kestrova::SignalWatcher::blockSignals();
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    const CurlGlobal curl;

    // Headless on a terminal, the log is shown there too (it goes into the activity log as
    // always); under a service manager nothing changes.
    std::optional<kestrova::Terminal> terminal;
    if (!desktop) {
        if (auto fd = kestrova::Terminal::standardErrorIfTerminal())
            terminal.emplace(std::move(fd));
    }
    kestrova::StderrLog log(terminal ? &*terminal : nullptr);

    const kestrova::Files user = kestrova::Files::fromEnvironment();
    std::optional<kestrova::DemoSite> site;
    std::optional<Session> session;
    if (demo) {
        session = startDemo(user, site.emplace());
        if (!session) return 1;
    } else {
        session = Session{user, kestrova::Configuration::fromEnvironment()};
    }

    // One Kestrova per settings folder, in either mode: two would share the settings and the
    // activity log and both scan for episodes, downloading each twice.
    const kestrova::SingleInstanceLock lock(
        kestrova::SingleInstanceLock::defaultPath(session->files.configDirectory()));
    if (lock.status() == kestrova::SingleInstanceLock::Status::AlreadyRunning) {
        std::fputs("kestrova: already running\n", stderr);
        return 1;
    }
    if (lock.status() == kestrova::SingleInstanceLock::Status::Unavailable) {
        std::fprintf(stderr, "kestrova: no single-instance lock (%s); going on without it\n",
                     lock.error().c_str());
    }

#ifdef KESTROVA_HAVE_QT
    if (desktop) {
        auto backend = kestrova::qt::QtBackend::create(argc, argv, log);
        if (!backend) return 1;
        return runKestrova(*backend, log, *session, nullptr);
    }
#endif
    if (terminal) greet(*terminal, session->files);
    kestrova::HeadlessBackend backend(log);
    return runKestrova(backend, log, *session, terminal ? &*terminal : nullptr);
}
