#include "platform/qt/QtStatusItemRenderer.h"

#include <QCursor>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include "platform/qt/QtMenuMirror.h"
#include "platform/qt/StatusIconPainter.h"

namespace kestrova::qt {

QtStatusItemRenderer::QtStatusItemRenderer(std::shared_ptr<StatusItem> item)
    : item_(std::move(item)),
      context_(std::make_unique<QObject>()),
      menu_(std::make_unique<QMenu>()),
      // After a choice: the model may have stayed as it was while Qt already flipped the
      // action's check mark, so look again either way.
      mirror_(std::make_unique<QtMenuMirror>(*menu_, [this] { scheduleSync(); })) {
    item_->changeSignal()->listener = [this] { scheduleSync(); };
    sync();
}

QtStatusItemRenderer::~QtStatusItemRenderer() {
    item_->changeSignal()->listener = nullptr;
    tray_.reset();
    mirror_.reset();
}

void QtStatusItemRenderer::scheduleSync() {
    if (syncPending_) return;
    syncPending_ = true;
    QMetaObject::invokeMethod(
        context_.get(),
        [this] {
            syncPending_ = false;
            sync();
        },
        Qt::QueuedConnection);
}

void QtStatusItemRenderer::sync() {
    if (const auto& model = item_->menu()) {
        mirror_->sync(*model);
    } else {
        mirror_->clear();
    }
    updateIcon();
}

void QtStatusItemRenderer::updateIcon() {
    if (!tray_ || paintedTitle_ == item_->title()) return;
    paintedTitle_ = item_->title();
    tray_->setIcon(StatusIconPainter::icon(QString::fromStdString(paintedTitle_)));
}

void QtStatusItemRenderer::showInTray() {
    if (tray_) return;
    // The panel reads the menu as soon as the item registers: have it complete by then.
    sync();
    tray_ = std::make_unique<QSystemTrayIcon>();
    paintedTitle_ = item_->title();
    tray_->setIcon(StatusIconPainter::icon(QString::fromStdString(paintedTitle_)));
    tray_->setToolTip(QStringLiteral("Kestrova"));
    tray_->setContextMenu(menu_.get());
    // The item has no window to show: a plain click opens the same menu.
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, context_.get(),
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger) menu_->popup(QCursor::pos());
                     });
    tray_->show();
}

}  // namespace kestrova::qt
