#pragma once

#include "platform/RunLoop.h"

namespace kestrova {

// The application object's delegate: told when launching is done, asked before quitting and
// told when quitting goes ahead.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationDidFinishLaunching() = 0;
    // 1: terminate now; 0: cancel.
    virtual int applicationShouldTerminate() = 0;
    virtual void applicationWillTerminate() = 0;
};

// The application object: runs the main run loop around its delegate. terminate() is what the
// quit command calls; terminateWithoutAsking() is the path of SIGINT and SIGTERM. Either ends
// the run loop; the delegate is told of the quit once run() has left it.
class Application {
public:
    explicit Application(RunLoop& runLoop) : runLoop_(runLoop) {}
    void setDelegate(ApplicationDelegate* delegate) { delegate_ = delegate; }

    // Launches, then runs the main run loop until the application terminates.
    int run();
    void terminate();
    void terminateWithoutAsking();

private:
    RunLoop& runLoop_;
    ApplicationDelegate* delegate_ = nullptr;
    bool terminating_ = false;
};

}  // namespace kestrova
