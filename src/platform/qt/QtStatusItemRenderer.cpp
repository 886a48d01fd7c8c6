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
      mirror_(std::make_unique<QtMenuMirror>(*menu_, QtMenuMirror::Labels::DBusMenu,
                                             [this] { scheduleSync(); })) {
    item_->changeSignal()->listener = [this] { scheduleSync(); };
    sync();
}

QtStatusItemRenderer::~QtStatusItemRenderer() {
    item_->changeSignal()->listener = nullptr;
    tray_.reset();
    popupMirror_.reset();
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
    for (QtMenuMirror* mirror : {mirror_.get(), popupMirror_.get()}) {
        if (mirror == nullptr) continue;
        if (const auto& model = item_->menu()) {
            mirror->sync(*model);
        } else {
            mirror->clear();
        }
    }
    updateIcon();
}

void QtStatusItemRenderer::popUp() {
    if (!popupMenu_) {
        popupMenu_ = std::make_unique<QMenu>();
        popupMirror_ = std::make_unique<QtMenuMirror>(*popupMenu_, QtMenuMirror::Labels::Qt,
                                                      [this] { scheduleSync(); });
        sync();
    }
    popupMenu_->popup(QCursor::pos());
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
    // The item has no window to show: a plain click opens the menu too.
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, context_.get(),
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger) popUp();
                     });
    tray_->show();
}

}  // namespace kestrova::qt
