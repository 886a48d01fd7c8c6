#include "platform/qt/StatusIconPainter.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>

namespace kestrova::qt {

namespace {

const QColor kFill(0x20, 0x20, 0x20);
const QColor kRim(0xf4, 0xf4, 0xf4);

// "⬇" in a 1 x 1 box: the shaft, then the head.
QPainterPath downArrow() {
    const QPolygonF outline({{0.35, 0.04},
                             {0.65, 0.04},
                             {0.65, 0.46},
                             {0.93, 0.46},
                             {0.50, 0.96},
                             {0.07, 0.46},
                             {0.35, 0.46}});
    QPainterPath path;
    path.addPolygon(outline);
    path.closeSubpath();
    return path;
}

QPainterPath shapeOf(const QString& title) {
    if (title == QStringLiteral("\u2B07") || title.isEmpty()) return downArrow();
    QFont font;
    font.setPixelSize(64);
    font.setBold(true);
    QPainterPath path;
    path.addText(0, 0, font, title);
    return path;
}

}  // namespace

QPixmap StatusIconPainter::pixmap(const QString& title, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    const QPainterPath shape = shapeOf(title);
    const QRectF bounds = shape.boundingRect();
    if (bounds.isEmpty()) return pixmap;

    const qreal rim = std::max<qreal>(1.0, size / 14.0);
    const qreal room = size - 2 * rim;
    const qreal scale = room / std::max(bounds.width(), bounds.height());
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(size / 2.0, size / 2.0);
    painter.scale(scale, scale);
    painter.translate(-bounds.center());
    // The rim is stroked twice as wide and then half covered by the fill: only the outer half
    // shows.
    painter.setPen(QPen(kRim, 2 * rim / scale, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(shape);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kFill);
    painter.drawPath(shape);
    return pixmap;
}

QIcon StatusIconPainter::icon(const QString& title) {
    QIcon icon;
    for (const int size : kSizes) icon.addPixmap(pixmap(title, size));
    return icon;
}

}  // namespace kestrova::qt
