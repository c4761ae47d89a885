#pragma once

#include <QByteArrayList>
#include <QTest>
#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// Building and reading small trees on disk, for tests. Works on raw bytes, so names that are not
// UTF-8 are handled as they are.
namespace corvalin::test {

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY2(fd >= 0, path.c_str());
    QCOMPARE(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

// Makes the entries "f:name" (file), "d:name" (folder), "l:name>target" (symbolic link) and
// "p:name" (FIFO) below `folder`; names may contain "/" for deeper entries.
inline void makeEntries(const std::filesystem::path& folder, const QByteArrayList& entries) {
    for (const QByteArray& entry : entries) {
        const std::string nameAndTarget = entry.mid(2).toStdString();
        const std::filesystem::path path = folder / nameAndTarget.substr(0, nameAndTarget.find('>'));
        switch (entry[0]) {
        case 'f':
            writeBytes(path, "x");
            break;
        case 'd':
            QCOMPARE(::mkdir(path.c_str(), 0755), 0);
            break;
        case 'l':
            QCOMPARE(::symlink(nameAndTarget.substr(nameAndTarget.find('>') + 1).c_str(), path.c_str()), 0);
            break;
        case 'p':
            QCOMPARE(::mkfifo(path.c_str(), 0644), 0);
            break;
        }
    }
}

// Every name in a folder, hidden ones included, in byte order.
inline QByteArrayList allNames(const std::filesystem::path& folder) {
    QByteArrayList names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names << QByteArray::fromStdString(entry.path().filename().native());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace corvalin::test
