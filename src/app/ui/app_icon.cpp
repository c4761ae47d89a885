#include "app/ui/app_icon.h"

#include <QPainter>
#include <QPainterPath>

namespace corvalin {

namespace {

// Drawn on a 256-unit square, the same shapes as data/corvalin.svg.
void drawFolder(QPainter& p) {
    const QPen edge(QColor(0x8a, 0x5a, 0x00), 8);
    QPainterPath back;
    back.moveTo(16, 64);
    back.lineTo(96, 64);
    back.lineTo(116, 84);
    back.lineTo(240, 84);
    back.lineTo(240, 224);
    back.lineTo(16, 224);
    back.closeSubpath();
    p.setPen(edge);
    p.setBrush(QColor(0xe8, 0xa3, 0x17));
    p.drawPath(back);
    p.setBrush(QColor(0xf6, 0xc3, 0x43));
    p.drawRect(16, 100, 224, 124);
}

void drawPicture(QPainter& p) {
    p.setPen(QPen(QColor(0x1f, 0x4e, 0x9c), 10));
    p.setBrush(Qt::white);
    p.drawRect(56, 36, 136, 108);
    QPainterPath hills;
    hills.moveTo(66, 134);
    hills.lineTo(106, 86);
    hills.lineTo(134, 118);
    hills.lineTo(152, 98);
    hills.lineTo(186, 134);
    hills.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2e, 0x9e, 0x44));
    p.drawPath(hills);
    p.setBrush(QColor(0xf0, 0x5a, 0x28));
    p.drawEllipse(QPointF(160, 70), 14, 14);
}

void drawBadge(QPainter& p) {
    p.setPen(QPen(Qt::white, 8));
    p.setBrush(QColor(0xd7, 0x26, 0x3d));
    p.drawEllipse(QPointF(196, 188), 48, 48);
    p.setPen(QPen(Qt::white, 10, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(178, 164, 172, 212);
    p.drawLine(206, 164, 200, 212);
    p.drawLine(166, 178, 214, 178);
    p.drawLine(162, 198, 210, 198);
}

} // namespace

QImage drawProgramIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 256.0, size / 256.0);
    drawFolder(painter);
    drawPicture(painter);
    drawBadge(painter);
    return image;
}

QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(drawProgramIcon(size)));
    return icon;
}

} // namespace corvalin
