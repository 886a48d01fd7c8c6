#pragma once

#include <atomic>
#include <memory>

#include "platform/Pasteboard.h"

class QObject;

namespace kestrova::qt {

// The desktop clipboard (QClipboard, Clipboard mode). The change count grows on every change of
// the clipboard's owner or content that Qt reports, so copying the same text again counts as
// a change. Create on the main thread; changeCount() is safe from any thread, string() reads
// the clipboard on the main thread (another thread waits for it).
class QtPasteboard : public Pasteboard {
public:
    QtPasteboard();
    ~QtPasteboard() override;
    QtPasteboard(const QtPasteboard&) = delete;
    QtPasteboard& operator=(const QtPasteboard&) = delete;

    std::int64_t changeCount() override { return changeCount_.load(); }
    std::optional<std::string> string() override;
    bool notifyChanges(std::function<void()> changed) override;

private:
    std::unique_ptr<QObject> context_;
    std::function<void()> changed_;
    std::atomic<std::int64_t> changeCount_{0};
};

}  // namespace kestrova::qt
