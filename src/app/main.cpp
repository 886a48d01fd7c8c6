// Kestrova's entry: reads the command line, picks the desktop or the headless backend, builds
// the platform services around it and runs the application until it quits.
#include <curl/curl.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/AppDelegate.h"
#include "platform/RunLoop.h"
#include "platform/headless/HeadlessBackend.h"
#include "platform/plist/Bundle.h"
#include "platform/runtime/ProcessPlatform.h"
#include "platform/runtime/SignalWatcher.h"
#include "platform/system/Environment.h"
#include "platform/system/Files.h"
#include "platform/system/SingleInstanceLock.h"
#include "platform/system/StderrLog.h"
#ifdef KESTROVA_HAVE_QT
#include "platform/qt/QtBackend.h"
#endif

namespace {

constexpr const char* kUsage =
    "Usage: kestrova [--headless] [--version] [--help]\n"
    "\n"
    "A tray downloader: copy an http address and choose \"ペーストボードからダウンロード\"\n"
    "from the ⬇ item, or let it fetch new episodes of the anime you follow.\n"
    "\n"
    "  --headless  run without any desktop service (alerts and banners go to the log)\n"
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

[[maybe_unused]] bool displayAvailable() {
    using kestrova::Environment;
    return Environment::value("DISPLAY") || Environment::value("WAYLAND_DISPLAY");
}

int runKestrova(kestrova::Backend& backend, kestrova::SystemLog& log,
                const kestrova::Files& files) {
    using namespace kestrova;
    ProcessPlatform platform(backend, log, files);
    Application& application = platform.application();
    AppDelegate delegate(platform.services());
    application.setDelegate(&delegate);
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
    [[maybe_unused]] bool headless = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("kestrova %s\n", kestrova::Bundle::main().shortVersionString().c_str());
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--headless") == 0) {
            headless = true;
            continue;
        }
        std::fprintf(stderr, "kestrova: unknown option '%s'\n\n%s", argv[i], kUsage);
        return 2;
    }

    // Before any thread exists: signals go to the watcher only, a closed socket or a file-size
    // limit fails the write that met it instead of killing the process.
    kestrova::SignalWatcher::blockSignals();
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    const CurlGlobal curl;
    kestrova::StderrLog log;

    // One Kestrova per settings folder, in either mode: two would share the settings and the
    // activity log and both scan for episodes, downloading each twice.
    const kestrova::Files files = kestrova::Files::fromEnvironment();
    const kestrova::SingleInstanceLock lock(
        kestrova::SingleInstanceLock::defaultPath(files.configDirectory()));
    if (lock.status() == kestrova::SingleInstanceLock::Status::AlreadyRunning) {
        std::fputs("kestrova: already running\n", stderr);
        return 1;
    }
    if (lock.status() == kestrova::SingleInstanceLock::Status::Unavailable) {
        std::fprintf(stderr, "kestrova: no single-instance lock (%s); going on without it\n",
                     lock.error().c_str());
    }

#ifdef KESTROVA_HAVE_QT
    if (!headless && displayAvailable()) {
        auto desktop = kestrova::qt::QtBackend::create(argc, argv, log);
        if (!desktop) return 1;
        return runKestrova(*desktop, log, files);
    }
#endif
    kestrova::HeadlessBackend backend(log);
    return runKestrova(backend, log, files);
}
