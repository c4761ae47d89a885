#include "info/ui/etched_line.h"

#include <QPainter>

namespace corvalin {

void EtchedLine::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(QRect(0, 0, width(), 1), QColor(128, 128, 128));
    painter.fillRect(QRect(1, 1, width() - 1, 2), Qt::white);
}

} // namespace corvalin
