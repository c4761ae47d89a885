#pragma once

#include <QWidget>

namespace corvalin {

// A separator cut into the window: a grey line with a white line two pixels wide one pixel below
// and to the right of it. The widget's top-left pixel is the grey line's start.
class EtchedLine : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace corvalin
