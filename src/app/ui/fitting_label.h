#pragma once

#include <QLabel>

namespace corvalin {

// A one-line heading that draws its caption smaller rather than cut off when the fonts of this
// desktop are wider than the ones the window was laid out for.
class FittingLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace corvalin
