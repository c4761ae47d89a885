#include "app/ui/screen_room.h"

#include <QApplication>
#include <QScreen>
#include <QStyle>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolTip>
#include <QWidget>

#include <algorithm>

namespace corvalin {

namespace {

// The frame the window manager puts round a window, until it is known.
QMargins frameOf(const QWidget* window) {
    const QRect frame = window->frameGeometry();
    const QRect inner = window->geometry();
    if (frame != inner)
        return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
                frame.bottom() - inner.bottom()};
    const int border = 4;
    const int title = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
    return {border, std::max(title, 24) + border, border, border};
}

constexpr int kWidestToolTip = 960;

} // namespace

QRect availableArea(const QWidget* window) {
    const QScreen* screen = window ? window->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

QSize roomOnScreen(const QWidget* window) {
    return availableArea(window).size().shrunkBy(frameOf(window));
}

void keepWithinScreen(QWidget* window) {
    const QSize size = window->size().boundedTo(roomOnScreen(window));
    if (size != window->size())
        window->resize(size);
}

QString wrappedToolTip(const QString& text) {
    const int width = std::min(kWidestToolTip, availableArea(nullptr).width() * 3 / 4);
    QStringList lines;
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        QTextLayout layout(paragraph, QToolTip::font());
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            lines << paragraph.mid(line.textStart(), line.textLength());
        }
        layout.endLayout();
        if (paragraph.isEmpty())
            lines << QString();
    }
    // A name such as "<b>x</b>.jpg" would be read as markup: such a tip is given as markup of its own.
    if (!Qt::mightBeRichText(text))
        return lines.join(QLatin1Char('\n'));
    for (QString& line : lines)
        line = line.toHtmlEscaped();
    return QStringLiteral("<p style=\"white-space:pre\">") + lines.join(QStringLiteral("<br>")) +
           QStringLiteral("</p>");
}

} // namespace corvalin
