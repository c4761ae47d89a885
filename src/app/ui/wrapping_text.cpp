#include "app/ui/wrapping_text.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetrics>
#include <QScrollBar>
#include <QTextDocument>

#include <algorithm>
#include <memory>

namespace corvalin {

namespace {

// Room for a few words, so that a narrow window still shows something readable.
constexpr int kNarrowestEms = 12;

} // namespace

WrappingText::WrappingText(QWidget* parent) : QTextEdit(parent) {
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // Taken by a click, to select and copy, and passed over by Tab, as a label is.
    setFocusPolicy(Qt::ClickFocus);
    setFrameShape(QFrame::NoFrame);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    document()->setDocumentMargin(1);
    // Drawn on the window's own background, as a label is.
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
}

void WrappingText::setText(const QString& text) {
    setPlainText(text);
    updateGeometry();
}

void WrappingText::setMaximumLines(int lines) {
    m_maximumLines = std::max(1, lines);
    updateGeometry();
}

int WrappingText::naturalWidth() const {
    const QFontMetrics metrics(font());
    int widest = 0;
    for (const QString& line : toPlainText().split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    return widest + 2 * int(document()->documentMargin()) + 2 * frameWidth() + 2;
}

int WrappingText::heightFor(int width) const {
    const std::unique_ptr<QTextDocument> laidOut(document()->clone());
    laidOut->setDefaultFont(font());
    QTextOption option = laidOut->defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    laidOut->setDefaultTextOption(option);
    laidOut->setTextWidth(std::max(1, width - 2 * frameWidth()));
    const int content = int(laidOut->documentLayout()->documentSize().height() + 0.5);
    const int highest =
        m_maximumLines * QFontMetrics(font()).lineSpacing() + 2 * int(document()->documentMargin());
    return std::min(content, highest) + 2 * frameWidth();
}

QSize WrappingText::sizeHint() const {
    const int width = isVisible() || testAttribute(Qt::WA_Resized) ? this->width() : naturalWidth();
    return {naturalWidth(), heightFor(width)};
}

QSize WrappingText::minimumSizeHint() const {
    const QFontMetrics metrics(font());
    return {kNarrowestEms * metrics.averageCharWidth(), metrics.lineSpacing() + 2 * frameWidth() + 2};
}

// Narrower, the text takes more lines: the layout is asked again for the height it gives it.
void WrappingText::resizeEvent(QResizeEvent* event) {
    QTextEdit::resizeEvent(event);
    const int hinted = heightFor(width());
    if (hinted != m_hintedHeight) {
        m_hintedHeight = hinted;
        updateGeometry();
    }
}

} // namespace corvalin
