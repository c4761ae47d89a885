#pragma once

#include <QTextEdit>

namespace corvalin {

// A message or summary that looks like a label, wraps anywhere (a long file name has no blank to
// wrap at), can be selected and copied as it stands, and scrolls past its highest number of lines
// instead of growing its window.
class WrappingText : public QTextEdit {
    Q_OBJECT
public:
    explicit WrappingText(QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const { return toPlainText(); }

    // Lines shown before the text scrolls.
    void setMaximumLines(int lines);
    // The width of the longest line, unwrapped.
    int naturalWidth() const;
    // The height the text takes at `width` pixels of this widget, up to the highest number of lines.
    int heightFor(int width) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    int m_maximumLines = 12;
    int m_hintedHeight = 0;
};

} // namespace corvalin
