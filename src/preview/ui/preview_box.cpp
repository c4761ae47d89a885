#include "preview/ui/preview_box.h"

#include "preview/ui/picture_decoder.h"

#include <QLabel>
#include <QPixmap>

#include <algorithm>
#include <cmath>

namespace corvalin {

PreparedPreview preparePreview(int fd, QSize box) {
    PreparedPreview prepared;
    const QSize natural = pictureSize(fd);
    if (!natural.isValid())
        return prepared;
    prepared.placed =
        fitPreview(float(box.width()), float(box.height()), float(natural.width()), float(natural.height()));
    prepared.shown = QSize(std::max(1, int(std::lround(prepared.placed.width))),
                           std::max(1, int(std::lround(prepared.placed.height))));
    prepared.image = decodePicture(fd, prepared.shown);
    return prepared;
}

void showPreview(QLabel* image, QRect box, const PreparedPreview& prepared) {
    image->setScaledContents(prepared.placed.stretch);
    image->setPixmap(QPixmap::fromImage(prepared.image));
    // Rounded as the size is, so that a picture sits in the middle to the pixel.
    image->setGeometry(box.left() + int(std::lround(prepared.placed.left)),
                       box.top() + int(std::lround(prepared.placed.top)), prepared.shown.width(),
                       prepared.shown.height());
    image->show();
}

} // namespace corvalin
