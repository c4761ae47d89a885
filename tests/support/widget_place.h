#pragma once

#include <QRect>
#include <QTest>
#include <QWidget>

namespace corvalin::test {

// A control at its designed place. A height of 0 means "as tall as one line of its font", which
// the Linux fonts decide.
inline void verifyPlace(const QWidget* widget, const QRect& place) {
    QCOMPARE(widget->pos(), place.topLeft());
    QCOMPARE(widget->width(), place.width());
    if (place.height() > 0)
        QCOMPARE(widget->height(), place.height());
    else
        QVERIFY(widget->height() >= 9 && widget->height() <= 16);
}

} // namespace corvalin::test
