#pragma once

#include "platform/Backend.h"
#include "platform/headless/HeadlessAlerts.h"
#include "platform/headless/HeadlessBanners.h"
#include "platform/headless/HeadlessPasteboard.h"
#include "platform/headless/HeadlessPowerEvents.h"
#include "platform/headless/HeadlessStatusBar.h"
#include "platform/headless/HeadlessWorkspace.h"
#include "platform/headless/PlainRunLoop.h"

namespace kestrova {

// Kestrova without a desktop: a plain run loop, alerts and banners in the log, an in-memory
// pasteboard and a status item that exists only as a model. Also the tests' platform.
class HeadlessBackend : public Backend {
public:
    explicit HeadlessBackend(SystemLog& log) : alerts_(log), banners_(log), workspace_(log) {}

    PlainRunLoop& runLoop() override { return runLoop_; }
    AlertService& alerts() override { return alerts_; }
    BannerService& banners() override { return banners_; }
    HeadlessPasteboard& pasteboard() override { return pasteboard_; }
    Workspace& workspace() override { return workspace_; }
    HeadlessStatusBar& statusBar() override { return statusBar_; }
    PowerEvents& powerEvents() override { return powerEvents_; }

private:
    PlainRunLoop runLoop_;
    HeadlessAlerts alerts_;
    HeadlessBanners banners_;
    HeadlessPasteboard pasteboard_;
    HeadlessWorkspace workspace_;
    HeadlessStatusBar statusBar_;
    HeadlessPowerEvents powerEvents_;
};

}  // namespace kestrova
