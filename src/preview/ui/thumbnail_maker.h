#pragma once

#include "preview/thumbnail_cache.h"

#include <QImage>
#include <QSize>

#include <filesystem>

namespace corvalin {

// A thumbnail for the plan: the desktop's own from the shared cache, or one decoded from the
// picture, which then goes into the cache too.
struct MadeThumbnail {
    QImage shown;             // fitted into the box asked for; null when the picture cannot be shown
    QImage made;              // what was decoded, at its cache folder's size; null when found or failed
    QSize original;           // the picture's size, upright
    PictureStamp stamp;       // empty when the file could not be opened
    bool undecodable = false; // a readable file Qt cannot decode (or not within its memory limit)
};

// Looks in large/, then normal/, then the failures; decodes the picture at reduced size only when
// none of them holds a valid entry. `box` is in device pixels. Safe on any thread.
MadeThumbnail makeThumbnail(ThumbnailCache& cache, const std::filesystem::path& file, QSize box,
                            ThumbnailFolder makeIn);

// Writes what makeThumbnail decoded into `makeIn`, or records the failure; nothing otherwise.
void storeThumbnail(ThumbnailCache& cache, const MadeThumbnail& thumbnail, ThumbnailFolder makeIn);

// Opens a picture to read it, never a link, a FIFO or a device (which could block the caller): -1
// for anything but a regular file. The caller owns the descriptor.
int openPictureToRead(const std::filesystem::path& file);

} // namespace corvalin
