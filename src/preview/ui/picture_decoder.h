#pragma once

#include <QImage>
#include <QSize>

#include <filesystem>

namespace corvalin {

// Opens a picture by its byte path (names that are not UTF-8 included). -1 when it cannot be
// opened. The caller owns the descriptor.
int openPicture(const std::filesystem::path& file);

// True when the name ends as a format this machine's picture readers read ("cat.JPG", "a.webp"):
// a file named otherwise is taken for no picture without being opened.
bool hasPictureReaderName(const std::filesystem::path& file);

// The natural size of the picture behind `fd`; invalid when it is not a picture Qt can read.
QSize pictureSize(int fd);

// Decodes the picture behind `fd` at `size`, asking the decoder for no more pixels than that
// (a JPEG is decoded scaled). A null image when it cannot be decoded.
QImage decodePicture(int fd, QSize size);

} // namespace corvalin
