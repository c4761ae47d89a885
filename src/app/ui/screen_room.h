#pragma once

#include <QRect>
#include <QString>

class QWidget;

namespace corvalin {

// The part of the screen a window may take: the screen of `window` (or the primary one) without
// the desktop's panels.
QRect availableArea(const QWidget* window);

// The size a window may take within that area, its frame left out.
QSize roomOnScreen(const QWidget* window);

// A window's size made to fit that area, frame included, at any length of the names it shows.
void keepWithinScreen(QWidget* window);

// A tool tip with the whole of a long name or path, broken anywhere into lines that fit the
// screen; a tool tip shows lines as they are and would run off the screen in one line.
QString wrappedToolTip(const QString& text);

} // namespace corvalin
