#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/RunLoop.h"

class QObject;
class QTimer;

namespace kestrova::qt {

// The main run loop over Qt's event loop: each timer is a QTimer; post() and quit() hand work
// to the main thread as queued calls. Create it on the main thread after the QApplication.
//
// Modes: while a modal alert is up (beginModal .. endModal, which may nest) default-mode timers
// are held; each held timer fires once when the last alert closes and then keeps its rhythm.
// Common-mode timers go on. A timer never fires again while its own callback still runs (for
// instance while that callback shows an alert).
class QtRunLoop : public RunLoop {
public:
    QtRunLoop();
    ~QtRunLoop() override;
    QtRunLoop(const QtRunLoop&) = delete;
    QtRunLoop& operator=(const QtRunLoop&) = delete;

    TimerId addTimer(std::chrono::milliseconds interval, RunLoopMode mode, Task fire) override;
    void removeTimer(TimerId id) override;
    void post(Task task) override;
    int run() override;
    void quit(int exitCode) override;
    void beginModal() override;
    void endModal() override;

private:
    struct Timer {
        std::unique_ptr<QTimer> timer;
        RunLoopMode mode;
        Task fire;
        bool held = false;    // a tick came while a modal alert was up
        bool firing = false;  // its callback is running now
    };
    void tick(TimerId id);
    void retire(std::unique_ptr<QTimer> timer);

    std::unique_ptr<QObject> context_;  // receives the queued calls on the main thread
    std::map<TimerId, Timer> timers_;   // main thread only, like the counters below
    // Timers removed while their own tick may be on the stack; deleted on a later turn.
    std::vector<std::unique_ptr<QTimer>> retired_;
    TimerId nextId_ = 1;
    int modalDepth_ = 0;

    std::mutex quitMutex_;
    bool quitRequested_ = false;
    int exitCode_ = 0;
};

}  // namespace kestrova::qt
