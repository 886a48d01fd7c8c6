#include "platform/Application.h"

namespace kestrova {

int Application::run() {
    if (delegate_ != nullptr) delegate_->applicationDidFinishLaunching();
    return runLoop_.run();
}

void Application::terminate() {
    if (terminated_) return;
    if (delegate_ != nullptr && delegate_->applicationShouldTerminate() == 0) return;
    // A SIGTERM handled while the quit question was up has terminated already.
    if (terminated_) return;
    finish();
}

void Application::terminateWithoutAsking() {
    if (terminated_) return;
    finish();
}

void Application::finish() {
    terminated_ = true;
    if (delegate_ != nullptr) delegate_->applicationWillTerminate();
    runLoop_.quit(0);
}

}  // namespace kestrova
