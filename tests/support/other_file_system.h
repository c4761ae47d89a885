#pragma once

#include <QDir>
#include <QTemporaryDir>

#include <filesystem>
#include <memory>
#include <sys/stat.h>

// A second file system for the tests of moves across file systems.
namespace corvalin::test {

inline dev_t deviceOf(const std::filesystem::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_dev;
}

// A folder on another file system than the default temporary folder, or none.
inline std::unique_ptr<QTemporaryDir> otherFileSystemDir() {
    auto dir = std::make_unique<QTemporaryDir>("/dev/shm/corvalin-test-XXXXXX");
    if (!dir->isValid() || deviceOf(dir->path().toStdString()) == deviceOf(QDir::tempPath().toStdString()))
        return nullptr;
    return dir;
}

// The hidden files that moves across file systems leave in `folder`.
inline int moveLeftovers(const std::filesystem::path& folder) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        count += entry.path().filename().native().starts_with(".corvalin-");
    return count;
}

} // namespace corvalin::test
