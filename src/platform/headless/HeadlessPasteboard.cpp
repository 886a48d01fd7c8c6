#include "platform/headless/HeadlessPasteboard.h"

namespace kestrova {

std::int64_t HeadlessPasteboard::changeCount() {
    std::lock_guard lock(mutex_);
    return changeCount_;
}

std::optional<std::string> HeadlessPasteboard::string() {
    std::lock_guard lock(mutex_);
    return text_;
}

void HeadlessPasteboard::setString(std::optional<std::string> text) {
    std::lock_guard lock(mutex_);
    text_ = std::move(text);
    ++changeCount_;
}

void HeadlessPasteboard::setChangeCount(std::int64_t count) {
    std::lock_guard lock(mutex_);
    changeCount_ = count;
}

}  // namespace kestrova
