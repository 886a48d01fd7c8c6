#include "app/TerminalProgress.h"

#include <cstdio>
#include <vector>

#include "messages/Notifications.h"
#include "platform/runtime/NotificationCenter.h"
#include "platform/system/Terminal.h"
#include "platform/text/TextUtil.h"

namespace kestrova {
namespace {

// How much of the speed shown comes from the latest interval: smooth, yet quick to follow.
constexpr double kSmoothing = 0.3;

}  // namespace

TerminalProgress::TerminalProgress(NotificationCenter& center, Terminal& terminal)
    : center_(center), terminal_(terminal) {
    center_.addObserver(this, notification::kDownloadProgress,
                        [this](const PlistValue& progress) { update(progress); });
}

TerminalProgress::~TerminalProgress() { center_.removeObserver(this); }

void TerminalProgress::update(const PlistValue& progress) {
    const std::string name = progress.stringFor(key::kName);
    const PlistValue* received = progress.find(key::kReceived);
    const PlistValue* expected = progress.find(key::kExpected);
    const PlistValue* ended = progress.find(key::kEnded);
    if (name.empty() || received == nullptr || !received->asInteger()) return;
    std::lock_guard lock(mutex_);
    if (ended != nullptr && ended->isTrue()) {
        running_.erase(name);
    } else {
        const auto now = std::chrono::steady_clock::now();
        Running& entry = running_[name];
        const std::int64_t bytes = *received->asInteger();
        if (entry.at != std::chrono::steady_clock::time_point{}) {
            const double seconds = std::chrono::duration<double>(now - entry.at).count();
            if (seconds > 0) {
                const double latest = static_cast<double>(bytes - entry.received) / seconds;
                entry.bytesPerSecond += kSmoothing * (latest - entry.bytesPerSecond);
            }
        }
        entry.received = bytes;
        entry.expected = expected != nullptr ? expected->asInteger().value_or(-1) : -1;
        entry.at = now;
    }
    redraw();
}

// With mutex_ held.
void TerminalProgress::redraw() {
    std::vector<std::string> lines;
    for (const auto& [name, entry] : running_) {
        std::string amount;
        if (entry.expected > 0) {
            char percent[16];
            std::snprintf(
                percent, sizeof percent, "%5.1f%%",
                100.0 * static_cast<double>(entry.received) / static_cast<double>(entry.expected));
            amount = percent;
        } else {
            amount = TextUtil::byteAmount(entry.received);
        }
        const auto speed = static_cast<std::int64_t>(entry.bytesPerSecond);
        lines.push_back("  ⬇ " + TextUtil::forLog(name, 60) + "  " + amount + "  " +
                        TextUtil::byteAmount(speed) + "/s");
    }
    terminal_.setStatusLines(std::move(lines));
}

}  // namespace kestrova
