#include "statusbar/ObservePasteBoard.h"

#include <chrono>
#include <string>

#include "messages/Notifications.h"
#include "platform/Pasteboard.h"
#include "platform/runtime/NotificationCenter.h"
#include "statusbar/PasteboardAddress.h"

namespace kestrova {
namespace {

constexpr std::chrono::milliseconds kPollInterval{1000};

}  // namespace

ObservePasteBoard::ObservePasteBoard(const PlatformServices& platform) : platform_(platform) {}

ObservePasteBoard::~ObservePasteBoard() {
    if (timer_) platform_.runLoop.removeTimer(*timer_);
    if (notified_) platform_.pasteboard.notifyChanges({});
}

void ObservePasteBoard::beginObservingPasteboard() {
    if (timer_ || notified_) return;
    // The menu command follows the pasteboard from launch on, not from the first change.
    pasteboardChanged(platform_.pasteboard);
    setChangeCount(platform_.pasteboard.changeCount());
    // Where the platform tells of changes, nothing needs to wake up in between.
    notified_ = platform_.pasteboard.notifyChanges([this] { observePasteboard(); });
    if (notified_) return;
    // Default mode: held while a menu or an alert is open; the next tick catches up.
    timer_ = platform_.runLoop.addTimer(kPollInterval, RunLoopMode::Default,
                                        [this] { observePasteboard(); });
}

void ObservePasteBoard::observePasteboard() {
    Pasteboard& pasteboard = platform_.pasteboard;
    if (pasteboard.changeCount() > changeCount()) pasteboardChanged(pasteboard);
    // Stored whether or not it grew: a count that went down is the new base.
    setChangeCount(pasteboard.changeCount());
}

void ObservePasteBoard::pasteboardChanged(Pasteboard& pasteboard) {
    downloadable_ = false;
    if (const std::optional<std::string> text = pasteboard.string()) {
        downloadable_ = PasteboardAddress::isDownloadable(*text);
    }
    platform_.center.post(notification::kCheckPasteBoard,
                          PlistValue::string(downloadable_ ? "YES" : "NO"));
}

}  // namespace kestrova
