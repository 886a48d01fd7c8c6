#include "platform/Application.h"

namespace kestrova {

int Application::run() {
    if (delegate_ != nullptr) delegate_->applicationDidFinishLaunching();
    const int exitCode = runLoop_.run();
    // Here, with nothing of the menu or an alert left on the stack: quitting tears down the
    // status bar, whose own action (the quit command, an alert's caller) may be what asked.
    if (delegate_ != nullptr) delegate_->applicationWillTerminate();
    return exitCode;
}

void Application::terminate() {
    if (terminating_) return;
    if (delegate_ != nullptr && delegate_->applicationShouldTerminate() == 0) return;
    terminateWithoutAsking();
}

void Application::terminateWithoutAsking() {
    // A SIGTERM handled while the quit question was up has asked for the quit already.
    if (terminating_) return;
    terminating_ = true;
    // Ends nested loops (an alert's) as well as the main one.
    runLoop_.quit(0);
}

}  // namespace kestrova
