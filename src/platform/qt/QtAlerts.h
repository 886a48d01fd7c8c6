#pragma once

#include "platform/Alert.h"
#include "platform/RunLoop.h"

namespace kestrova::qt {

// Modal alerts as QMessageBoxes. runModal() blocks until a button is pressed and answers as the
// alert's form says: the older form 1 for the default button, 0 for the alternate, -1 for the
// other; the newer form 1000 for the first added button, 1001 for the next. The run loop is
// told while the box is up, so that default-mode timers wait.
//
// Return presses the default (first) button. Escape, or closing the window, presses the
// alternate button of the older form, or the only button of a one-button alert; otherwise the
// alert stays until a button is pressed. Called on another thread, the alert is shown on the
// main thread and the caller waits for the answer.
class QtAlerts : public AlertService {
public:
    explicit QtAlerts(RunLoop& runLoop) : runLoop_(runLoop) {}
    int runModal(const Alert& alert) override;

private:
    int runOnMainThread(const Alert& alert);

    RunLoop& runLoop_;
};

}  // namespace kestrova::qt
