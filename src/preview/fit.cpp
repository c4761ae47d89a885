#include "preview/fit.h"

namespace corvalin {

PreviewPlacement fitPreview(float boxWidth, float boxHeight, float pictureWidth, float pictureHeight) {
    PreviewPlacement placed;
    placed.width = pictureWidth;
    placed.height = pictureHeight;
    if (placed.width > boxWidth) {
        placed.stretch = true;
        placed.height = boxWidth / placed.width * placed.height;
        placed.width = boxWidth;
    }
    if (placed.height > boxHeight) {
        placed.stretch = true;
        placed.width = boxHeight / placed.height * placed.width;
        placed.height = boxHeight;
    }
    placed.left = (boxWidth - placed.width) / 2;
    placed.top = (boxHeight - placed.height) / 2;
    return placed;
}

} // namespace corvalin
