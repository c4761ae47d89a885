#pragma once

#include <QByteArrayList>
#include <QTest>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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

// Makes the entries "f:name" (file), "d:name" (folder), "l:name>target" (symbolic link), "p:name"
// (FIFO) and "s:name" (socket) below `folder`; names may contain "/" for deeper entries.
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
        case 's': {
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            QVERIFY(path.native().size() < sizeof address.sun_path);
            path.native().copy(address.sun_path, path.native().size());
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            QCOMPARE(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
            ::close(fd); // the socket file stays
            break;
        }
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

// Makes a file impossible to delete until destroyed: for root with the immutable attribute (root
// ignores a read-only folder), for anyone else with a read-only folder. `code` is the errno a
// deletion then fails with; 0 where neither can be set up.
class UndeletableFile {
public:
    explicit UndeletableFile(const std::filesystem::path& file) : m_file(file) {
        if (::geteuid() != 0) {
            if (::chmod(file.parent_path().c_str(), 0555) == 0)
                code = EACCES;
        } else if (setImmutable(true)) {
            code = EPERM;
        }
    }
    ~UndeletableFile() {
        if (code == EACCES)
            ::chmod(m_file.parent_path().c_str(), 0755);
        else if (code == EPERM)
            setImmutable(false);
    }
    UndeletableFile(const UndeletableFile&) = delete;
    UndeletableFile& operator=(const UndeletableFile&) = delete;

    int code = 0;

private:
    bool setImmutable(bool on) const {
        const int fd = ::open(m_file.c_str(), O_RDONLY | O_CLOEXEC);
        int flags = 0;
        bool set = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        set = set && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0)
            ::close(fd);
        return set;
    }
    std::filesystem::path m_file;
};

} // namespace corvalin::test
