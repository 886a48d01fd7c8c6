#include "platform/qt/QtMenuMirror.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <algorithm>

namespace kestrova::qt {

struct QtMenuMirror::Entry {
    // Held so that the item stays the same object while it is mirrored.
    std::shared_ptr<MenuItem> item;
    QAction* action = nullptr;  // child of menu_
    std::unique_ptr<QMenu> submenu;
    std::unique_ptr<QtMenuMirror> submenuMirror;
};

namespace {

// A key equivalent is used with the primary modifier: Ctrl here. An upper-case letter also
// means Shift, as it does in the model's convention.
QKeySequence shortcutFor(const std::string& key) {
    if (key.empty()) return {};
    const QString k = QString::fromStdString(key);
    const bool shifted = k.size() == 1 && k.at(0).isUpper();
    return QKeySequence(
        QStringLiteral("Ctrl+") + (shifted ? QStringLiteral("Shift+") : QString()) + k.toUpper(),
        QKeySequence::PortableText);
}

}  // namespace

QtMenuMirror::QtMenuMirror(QMenu& target, Labels labels, std::function<void()> afterChoice)
    : menu_(target), labels_(labels), afterChoice_(std::move(afterChoice)) {}

QString QtMenuMirror::labelFor(const std::string& title) const {
    QString label = QString::fromStdString(title).replace(QLatin1Char('&'), QStringLiteral("&&"));
    if (labels_ == Labels::DBusMenu) label.replace(QLatin1Char('_'), QStringLiteral("__"));
    return label;
}

QtMenuMirror::~QtMenuMirror() { clear(); }

void QtMenuMirror::clear() {
    for (auto& entry : entries_) discard(entry);
    entries_.clear();
}

void QtMenuMirror::discard(Entry& entry) {
    menu_.removeAction(entry.action);
    entry.action->setMenu(static_cast<QMenu*>(nullptr));
    delete entry.action;
    entry.action = nullptr;
    entry.submenuMirror.reset();
    entry.submenu.reset();
}

QtMenuMirror::Entry QtMenuMirror::makeEntry(const std::shared_ptr<MenuItem>& item) {
    Entry entry;
    entry.item = item;
    entry.action = new QAction(&menu_);
    entry.action->setShortcutContext(Qt::WidgetShortcut);
    QAction* action = entry.action;
    const std::weak_ptr<MenuItem> weak = item;
    QObject::connect(action, &QAction::triggered, action, [this, weak, action] {
        // Later: the item's action may show an alert or rebuild this very menu. Dropped when
        // the action goes first.
        QTimer::singleShot(0, action, [this, weak, action] {
            const QPointer<QAction> stillShown(action);
            if (const auto chosen = weak.lock()) chosen->perform();
            // The choice may have taken this menu down (its mirror with it).
            if (stillShown && afterChoice_) afterChoice_();
        });
    });
    return entry;
}

void QtMenuMirror::sync(const Menu& model) {
    std::vector<Entry> next;
    next.reserve(model.numberOfItems());
    for (const auto& item : model.items()) {
        const auto known = std::find_if(entries_.begin(), entries_.end(),
                                        [&](const Entry& e) { return e.item == item; });
        if (known != entries_.end()) {
            next.push_back(std::move(*known));
            entries_.erase(known);
        } else {
            next.push_back(makeEntry(item));
        }
        update(next.back());
    }
    for (auto& gone : entries_) discard(gone);
    entries_ = std::move(next);
    arrange();
}

void QtMenuMirror::update(Entry& entry) {
    const MenuItem& item = *entry.item;
    QAction& action = *entry.action;
    if (action.isSeparator() != item.isSeparator()) action.setSeparator(item.isSeparator());
    const QString text = item.isSeparator() ? QString() : labelFor(item.title());
    if (action.text() != text) action.setText(text);
    const bool enabled = !item.isSeparator() && item.isEnabled();
    if (action.isEnabled() != enabled) action.setEnabled(enabled);
    const bool checked = item.state() == MenuItem::kOn;
    // An item becomes checkable with its first tick, so items that are never ticked show no
    // empty box. It stays checkable: the panel merges property updates, and Qt's update for an
    // action that stops being checkable does not withdraw the check-mark properties.
    if (checked && !action.isCheckable()) action.setCheckable(true);
    if (action.isChecked() != checked) action.setChecked(checked);
    const QKeySequence shortcut = shortcutFor(item.keyEquivalent());
    if (action.shortcut() != shortcut) action.setShortcut(shortcut);
    updateSubmenu(entry);
}

void QtMenuMirror::updateSubmenu(Entry& entry) {
    const auto& model = entry.item->submenu();
    if (!model) {
        if (entry.submenu) {
            entry.action->setMenu(static_cast<QMenu*>(nullptr));
            entry.submenuMirror.reset();
            entry.submenu.reset();
        }
        return;
    }
    if (!entry.submenu) {
        entry.submenu = std::make_unique<QMenu>();
        entry.submenuMirror = std::make_unique<QtMenuMirror>(*entry.submenu, labels_, afterChoice_);
        entry.action->setMenu(entry.submenu.get());
    }
    const QString title = labelFor(entry.item->title());
    if (entry.submenu->title() != title) entry.submenu->setTitle(title);
    entry.submenuMirror->sync(*model);
}

// Puts the actions in the model's order, moving or inserting only those out of place.
void QtMenuMirror::arrange() {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const QList<QAction*> current = menu_.actions();
        const auto index = static_cast<qsizetype>(i);
        if (index < current.size() && current.at(index) == entries_[i].action) continue;
        if (current.contains(entries_[i].action)) menu_.removeAction(entries_[i].action);
        const QList<QAction*> rest = menu_.actions();
        menu_.insertAction(index < rest.size() ? rest.at(index) : nullptr, entries_[i].action);
    }
}

}  // namespace kestrova::qt
