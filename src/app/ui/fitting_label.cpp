#include "app/ui/fitting_label.h"

#include <QPainter>
#include <QStyle>

namespace corvalin {

void FittingLabel::paintEvent(QPaintEvent* event) {
    const QRect area = contentsRect();
    QFont shrunk = font();
    constexpr double kSmallestPointSize = 6.0;
    while (QFontMetrics(shrunk).horizontalAdvance(text()) > area.width() &&
           shrunk.pointSizeF() > kSmallestPointSize)
        shrunk.setPointSizeF(shrunk.pointSizeF() - 0.25);
    if (shrunk == font()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    painter.setFont(shrunk);
    style()->drawItemText(&painter, area, int(alignment()), palette(), isEnabled(), text(), foregroundRole());
}

} // namespace corvalin
