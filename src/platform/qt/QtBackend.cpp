#include "platform/qt/QtBackend.h"

#include <fcntl.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/qt/NoTrayHostNotice.h"
#include "platform/qt/StatusIconPainter.h"
#include "platform/system/Environment.h"

namespace kestrova::qt {

namespace {

bool isSet(const char* name) { return Environment::value(name).has_value(); }

// Wayland lets only the focused window read the clipboard; XWayland does not.
void preferXWayland() {
    if (!isSet("QT_QPA_PLATFORM") && isSet("WAYLAND_DISPLAY") && isSet("DISPLAY")) {
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
}

// Qt ends the process (abort) when its platform cannot start. For the X11 platform, the one
// used unless the user asked for another or a pure Wayland session, try the display first so
// that a stale DISPLAY gets a clear message and an exit code instead.
std::optional<std::string> displayProblem() {
    const std::optional<std::string> platform = Environment::value("QT_QPA_PLATFORM");
    const bool x11 = platform ? *platform == "xcb" : isSet("DISPLAY");
    if (!x11) return std::nullopt;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool failed = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection);
    if (!failed) return std::nullopt;
    return "cannot open the display \"" + Environment::value("DISPLAY").value_or("") +
           "\" (use --headless to run without a desktop)";
}

}  // namespace

std::unique_ptr<QtBackend> QtBackend::create(int argc, char** argv, SystemLog& log,
                                             const Files& files) {
    preferXWayland();
    if (const auto problem = displayProblem()) {
        std::fprintf(stderr, "kestrova: %s\n", problem->c_str());
        return nullptr;
    }
    UniqueFd console(::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3));
    return std::unique_ptr<QtBackend>(new QtBackend(argc, argv, log, files, std::move(console)));
}

QtBackend::QtBackend(int argc, char** argv, SystemLog& log, const Files& files, UniqueFd console)
    : argc_(argc) {
    QCoreApplication::setApplicationName(QStringLiteral("Kestrova"));
    QGuiApplication::setDesktopFileName(QStringLiteral("kestrova"));
    app_ = std::make_unique<QApplication>(argc_, argv);
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Kestrova"));
    // A tray program: closing its last alert must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(QIcon::fromTheme(
        QStringLiteral("kestrova"), StatusIconPainter::icon(QStringLiteral("\u2B07"))));
    runLoop_ = std::make_unique<QtRunLoop>();
    alerts_ = std::make_unique<QtAlerts>(*runLoop_);
    banners_ = std::make_unique<QtBanners>(log);
    pasteboard_ = std::make_unique<QtPasteboard>();
    workspace_ = std::make_unique<QtWorkspace>(log);
    statusBar_ = std::make_unique<QtStatusBar>(
        log, std::make_unique<NoTrayHostNotice>(*banners_, log, files, std::move(console)));
    powerEvents_ = std::make_unique<QtPowerEvents>();
}

QtBackend::~QtBackend() {
    // Everything made over the QApplication goes before it.
    powerEvents_.reset();
    statusBar_.reset();
    workspace_.reset();
    pasteboard_.reset();
    banners_.reset();
    alerts_.reset();
    runLoop_.reset();
    app_.reset();
}

}  // namespace kestrova::qt
