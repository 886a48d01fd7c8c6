#pragma once

#include <cstdint>

#include "platform/PlatformServices.h"

namespace kestrova {

// Watches the pasteboard once a second and posts "checkPasteBoard" with "YES" when it holds one
// line beginning with "http://" or "https://", else "NO". Main thread only.
class ObservePasteBoard {
public:
    explicit ObservePasteBoard(const PlatformServices& platform);
    ~ObservePasteBoard();

    void beginObservingPasteboard();
};

}  // namespace kestrova
