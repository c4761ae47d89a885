#pragma once

#include <QByteArray>
#include <QStringList>

#include <filesystem>
#include <map>

namespace corvalin::e2e {

// Writes a small real picture whose format follows the name's extension (JPEG, BMP or PNG); each
// seed gives different pixels, so that every picture has content of its own.
bool writePicture(const std::filesystem::path& file, int seed);

QByteArray digestOf(const std::filesystem::path& file);

// How many files below `root`, at any depth, hold each content.
std::map<QByteArray, int> contentsBelow(const std::filesystem::path& root);

// The names in a folder, hidden ones included, sorted; folders end in "/".
QStringList namesIn(const std::filesystem::path& folder);

} // namespace corvalin::e2e
