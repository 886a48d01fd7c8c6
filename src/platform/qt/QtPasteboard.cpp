#include "platform/qt/QtPasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QThread>

namespace kestrova::qt {

namespace {

std::optional<std::string> readClipboardText() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (data == nullptr || !data->hasText()) return std::nullopt;
    return data->text().toStdString();
}

}  // namespace

QtPasteboard::QtPasteboard() : context_(std::make_unique<QObject>()) {
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, context_.get(),
                     [this] {
                         ++changeCount_;
                         if (changed_) changed_();
                     });
}

QtPasteboard::~QtPasteboard() = default;

bool QtPasteboard::notifyChanges(std::function<void()> changed) {
    changed_ = std::move(changed);
    return true;
}

std::optional<std::string> QtPasteboard::string() {
    if (QThread::currentThread() == context_->thread()) return readClipboardText();
    std::optional<std::string> text;
    QMetaObject::invokeMethod(
        context_.get(), [&text] { text = readClipboardText(); }, Qt::BlockingQueuedConnection);
    return text;
}

}  // namespace kestrova::qt
