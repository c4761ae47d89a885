#pragma once

#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <string>

namespace corvalin::testing {

inline std::filesystem::path pathOf(const QTemporaryDir& dir) {
    return std::filesystem::path(dir.path().toStdString());
}

// Writes `bytes` to `file`, creating its folders.
inline void writeFile(const std::filesystem::path& file, const std::string& bytes = "x") {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out << bytes;
    QVERIFY2(out.good(), file.c_str());
}

inline std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace corvalin::testing
