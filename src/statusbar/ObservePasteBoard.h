#pragma once

#include <cstdint>
#include <optional>

#include "platform/PlatformServices.h"
#include "platform/RunLoop.h"

namespace kestrova {

class Pasteboard;

// Watches the pasteboard (told of its changes where the platform does that, else once a second)
// and posts "checkPasteBoard" with "YES" when it holds one
// line beginning with "http://" or "https://", else "NO": once when watching begins, then after
// every growth of the pasteboard's change count, even when the answer is the same as before.
//
// Use: construct, then beginObservingPasteboard() once; the poll runs in the default run-loop
// mode until the object goes. Main thread only.
class ObservePasteBoard {
public:
    explicit ObservePasteBoard(const PlatformServices& platform);
    ~ObservePasteBoard();
    ObservePasteBoard(const ObservePasteBoard&) = delete;
    ObservePasteBoard& operator=(const ObservePasteBoard&) = delete;

    void beginObservingPasteboard();
    // One poll: tests the pasteboard when its change count grew since the last look.
    void observePasteboard();
    // Tests the pasteboard's text and posts the answer.
    void pasteboardChanged(Pasteboard& pasteboard);

private:
    // The pasteboard's change count at the last look.
    std::int64_t changeCount() const { return changeCount_; }
    void setChangeCount(std::int64_t changeCount) { changeCount_ = changeCount; }

    const PlatformServices& platform_;
    bool downloadable_ = false;
    std::int64_t changeCount_ = 0;
    std::optional<RunLoop::TimerId> timer_;  // polling, where changes are not told
    bool notified_ = false;                  // the pasteboard tells of its changes
};

}  // namespace kestrova
