#pragma once

#include "platform/Alert.h"
#include "platform/RunLoop.h"

namespace kestrova::qt {

// Modal alerts as QMessageBoxes. runModal() blocks until a button is pressed and answers as the
// alert's shape says (see Alert). The run loop is told while the box is up, so that default-mode
// timers wait.
//
// Return presses the first button. Escape, or closing the window, presses the alternate button
// of a default/alternate/other alert, the only button of a one-button alert, or the second
// button of a button list (the buttons after the first reject, as a "later" does). Called on
// another thread, the alert is shown on the main thread and the caller waits for the answer.
class QtAlerts : public AlertService {
public:
    explicit QtAlerts(RunLoop& runLoop) : runLoop_(runLoop) {}
    int runModal(const Alert& alert) override;

private:
    int runOnMainThread(const Alert& alert);

    RunLoop& runLoop_;
};

}  // namespace kestrova::qt
