#pragma once

namespace corvalin {

// Where a picture goes in the preview box: never enlarged, shrunk to fit with its aspect ratio
// kept, centred. Single precision, the quotient taken before the product, as the box always did.
struct PreviewPlacement {
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;
    bool stretch = false; // drawn scaled rather than at its natural size
};

PreviewPlacement fitPreview(float boxWidth, float boxHeight, float pictureWidth, float pictureHeight);

} // namespace corvalin
