#pragma once

// What the command-line tests share: the saved state of a program copy, a tree to gather, and a
// tree's names and contents to compare.
#include "move_fixture.h"

#include <QtTest>

#include <map>
#include <string>

namespace corvalin::test {

inline void writeSettings(const fs::path& folder, const fs::path& source, const fs::path& dest, int runFlag,
                          int deleteOption, int counter) {
    QVERIFY(writeContent(folder / "Corvalin.ini", "\"" + source.native() + "\",\"" + dest.native() +
                                                      "\",\"\"," + std::to_string(runFlag) + "," +
                                                      std::to_string(deleteOption) + "\r\n"));
    QVERIFY(writeContent(folder / "Quillet.ini", std::to_string(counter) + "\r\n"));
}

// Prefixes already taken, a hidden file, a file that is no picture, an empty folder, a nested
// folder, a picture beside the child folders, and a name already taken in the destination.
inline void makeTree(const fs::path& root) {
    for (const char* file : {"a/000007 dog.JPG", "a/cat.jpg", "a/.hidden.jpg", "b/cat.jpg", "b/x.bmp",
                             "b/c/photo.jpeg", "top.jpg"})
        QVERIFY(writeContent(root / "src" / file, pictureContent(file)));
    QVERIFY(writeContent(root / "src/a/notes.txt", "notes"));
    fs::create_directories(root / "src/empty");
    QVERIFY(writeContent(root / "dst/000043 cat.jpg", "taken"));
}

// Every path below `root`, relative, with the content of each file.
inline std::map<std::string, std::string> treeOf(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        tree[entry.path().lexically_relative(root).native()] =
            entry.is_regular_file() ? contentOf(entry) : "/";
    return tree;
}

} // namespace corvalin::test
