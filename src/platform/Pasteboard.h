#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace kestrova {

// The general pasteboard (the clipboard): a change count that grows with every new content, and
// the content as plain text when there is any.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;
    virtual std::int64_t changeCount() = 0;
    virtual std::optional<std::string> string() = 0;
    // Where the platform tells when the clipboard changes (X11 does), changed is called on the
    // main thread at each change and this answers true; otherwise the caller has to poll.
    virtual bool notifyChanges(std::function<void()> /*changed*/) { return false; }
};

}  // namespace kestrova
