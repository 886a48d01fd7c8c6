#pragma once

#include <mutex>

#include "platform/Pasteboard.h"

namespace kestrova {

// An in-memory pasteboard: setString() is a copy, and every copy raises the change count.
class HeadlessPasteboard : public Pasteboard {
public:
    std::int64_t changeCount() override;
    std::optional<std::string> string() override;
    void setString(std::optional<std::string> text);
    // Sets the count as it is, for callers that model another pasteboard's counter.
    void setChangeCount(std::int64_t count);

private:
    std::mutex mutex_;
    std::int64_t changeCount_ = 0;
    std::optional<std::string> text_;
};

}  // namespace kestrova
