#pragma once

#include "preview/fit.h"

#include <QImage>
#include <QRect>
#include <QSize>

class QLabel;

namespace corvalin {

// A picture decoded for the preview box, and where in the box it goes.
struct PreparedPreview {
    QImage image; // null when the file is no picture Qt can read
    PreviewPlacement placed;
    QSize shown; // whole pixels of the fitted size
};

// Reads the picture behind `fd` fitted into a box of `box` size, decoding no more pixels than the
// box shows. Safe on any thread; the descriptor stays open.
PreparedPreview preparePreview(int fd, QSize box);

// Puts a prepared picture into `image`, placed inside `box` (the inner area of its frame).
void showPreview(QLabel* image, QRect box, const PreparedPreview& prepared);

} // namespace corvalin
