#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace corvalin::bench {

// The shape of a download tree: child folders below one parent, camera-like JPEG pictures spread
// over them unevenly, and some other files.
struct TreeShape {
    int folders = 500;
    int pictures = 10000;
    int others = 500;
    int distinct = 200;       // distinct pictures generated; the tree reuses them
    double megapixels = 2.0;  // about 100 to 300 KB a picture at 2
    unsigned seed = 20240601; // the same tree every time
};

// Generates `shape.distinct` JPEG pictures with camera-like content (gradients, shapes, sensor
// noise) into `pool`. Returns the average size in bytes.
double makePicturePool(const std::filesystem::path& pool, const TreeShape& shape);

// Lays out a source tree below `source` whose pictures are hard links into `pool`: copying a tree
// is then quick, and a move costs what it costs for any file. Returns the list of every file made.
std::vector<std::filesystem::path> makeSourceTree(const std::filesystem::path& pool,
                                                  const std::filesystem::path& source,
                                                  const TreeShape& shape);

// Makes `to` a copy of the tree `from` whose files are hard links of the originals.
void linkCopy(const std::filesystem::path& from, const std::filesystem::path& to);

} // namespace corvalin::bench
