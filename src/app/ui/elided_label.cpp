#include "app/ui/elided_label.h"

#include "app/ui/screen_room.h"

#include <QPainter>
#include <QStyle>

namespace corvalin {

namespace {

constexpr int kNarrowestChars = 8;

} // namespace

void ElidedLabel::setText(const QString& text) {
    QLabel::setText(text);
    setToolTip(text.isEmpty() ? QString() : wrappedToolTip(text));
}

QSize ElidedLabel::minimumSizeHint() const {
    QSize size = QLabel::minimumSizeHint();
    size.setWidth(std::min(size.width(), kNarrowestChars * fontMetrics().averageCharWidth()));
    return size;
}

void ElidedLabel::paintEvent(QPaintEvent* event) {
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width());
    if (shown == text()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    style()->drawItemText(&painter, area, int(alignment()), palette(), isEnabled(), shown, foregroundRole());
}

} // namespace corvalin
