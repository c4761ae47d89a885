#pragma once

#include <QLabel>

namespace corvalin {

// One line that shows a long path with its middle left out instead of widening its window; the
// whole text is in the tool tip.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    void setText(const QString& text);
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace corvalin
