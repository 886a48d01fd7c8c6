#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace kestrova::qt {

// Paints the status item's title as its panel icon. The title "⬇" becomes a drawn thick down
// arrow (no font needed); any other title is drawn from the font's outlines. The shape is dark
// with a light rim, so it reads on dark and on light panels alike.
class StatusIconPainter {
public:
    // The sizes panels ask for, in pixels.
    static constexpr int kSizes[] = {16, 22, 24, 32, 48, 64};

    static QIcon icon(const QString& title);
    static QPixmap pixmap(const QString& title, int size);
};

}  // namespace kestrova::qt
