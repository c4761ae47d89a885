#include "platform/held_folder.h"

#include "platform/absent_name.h"

#include "platform/paths.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h> // renameat2
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const char* const kReadFolderText = "フォルダの読み取り";
const char* const kLookText = "ファイルの確認";

// A folder's identity and the mount it was reached through, in one call: `name` in `at` without
// following a link, or `at` itself for "". ENOTDIR for anything that is no folder.
int idAt(int at, const char* name, FolderId& id) {
    struct statx info {};
    const int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (name[0] ? 0 : AT_EMPTY_PATH);
    if (::statx(at, name, flags, STATX_BASIC_STATS | STATX_MNT_ID, &info) != 0)
        return errno;
    if (!S_ISDIR(info.stx_mode))
        return ENOTDIR;
    id.device = makedev(info.stx_dev_major, info.stx_dev_minor);
    id.inode = info.stx_ino;
    id.mount = (info.stx_mask & STATX_MNT_ID) ? info.stx_mnt_id : 0;
    return 0;
}

bool onSameMount(const FolderId& a, const FolderId& b) {
    return a.device == b.device && (a.mount == 0 || b.mount == 0 || a.mount == b.mount);
}

// A folder that may not be listed can still be worked in by name (write and search rights only):
// it is then held by a path descriptor.
UniqueFd openFolderAt(int at, const char* name, int extraFlags) {
    UniqueFd fd(::openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | extraFlags));
    if (!fd.valid() && errno == EACCES)
        fd = UniqueFd(::openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC | extraFlags));
    return fd;
}

HeldEntry::Kind kindOfMode(unsigned mode) {
    switch (mode & S_IFMT) {
    case S_IFREG:
        return HeldEntry::Kind::File;
    case S_IFDIR:
        return HeldEntry::Kind::Folder;
    case S_IFLNK:
        return HeldEntry::Kind::Link;
    default:
        return HeldEntry::Kind::Other;
    }
}

HeldEntry::Kind kindOfType(unsigned char type) {
    return kindOfMode(DTTOIF(type));
}

} // namespace

bool FolderId::sameAs(const FolderId& other) const {
    return device == other.device && inode == other.inode &&
           (mount == 0 || other.mount == 0 || mount == other.mount);
}

bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

Result<HeldFolder> HeldFolder::adopt(UniqueFd fd, fs::path path) {
    FolderId id;
    if (const int error = idAt(fd.get(), "", id))
        return errorFromErrno(kReadFolderText, path, error);
    return HeldFolder(std::move(fd), std::move(path), id);
}

Result<HeldFolder> HeldFolder::open(const fs::path& path) {
    const fs::path shown = withoutTrailingSlash(path);
    UniqueFd fd = openFolderAt(AT_FDCWD, path.c_str(), 0);
    if (!fd.valid())
        return errorFromErrno(kReadFolderText, shown, errno);
    return adopt(std::move(fd), shown);
}

Result<HeldFolder> HeldFolder::childOnAnyMount(const std::string& name) const {
    const fs::path path = pathOf(name);
    if (!isPlainName(name))
        return errorFromErrno(kReadFolderText, path, EINVAL);
    UniqueFd fd = openFolderAt(m_fd.get(), name.c_str(), O_NOFOLLOW);
    if (!fd.valid())
        return errorFromErrno(kReadFolderText, path, errno);
    return adopt(std::move(fd), path);
}

Result<HeldFolder> HeldFolder::child(const std::string& name) const {
    Result<HeldFolder> opened = childOnAnyMount(name);
    // The top of another mount (a bind mount of this file system too) is not entered.
    if (opened && !onSameMount(opened.value().id(), m_id))
        return errorFromErrno(kReadFolderText, opened.value().path(), EXDEV);
    return opened;
}

Result<HeldFolder> HeldFolder::child(const std::string& name, const FolderId& expected) const {
    Result<HeldFolder> opened = child(name);
    if (opened && !opened.value().id().sameAs(expected))
        return errorFromErrno(kReadFolderText, opened.value().path(), ESTALE);
    return opened;
}

Result<HeldFolder> HeldFolder::below(const fs::path& path) const {
    const std::string top = withoutTrailingSlash(m_path).native();
    const std::string& text = path.native();
    const std::string prefix = top == "/" ? top : top + "/";
    if (text != top && !text.starts_with(prefix))
        return errorFromErrno(kReadFolderText, path, EINVAL);
    // Each component by itself: "a//b", "a/./b" and "a/../b" are refused, not tidied.
    std::vector<std::string> names;
    for (std::size_t at = text == top ? text.size() : prefix.size(); at < text.size();) {
        const std::size_t slash = std::min(text.find('/', at), text.size());
        names.push_back(text.substr(at, slash - at));
        at = slash + 1;
        if (!isPlainName(names.back()) || (slash + 1 == text.size()))
            return errorFromErrno(kReadFolderText, path, EINVAL);
    }
    Result<HeldFolder> same = duplicate();
    if (!same)
        return same;
    HeldFolder folder = std::move(same.value());
    for (const std::string& name : names) {
        Result<HeldFolder> next = folder.child(name);
        if (!next)
            return next;
        folder = std::move(next.value());
    }
    return folder;
}

Result<HeldFolder> HeldFolder::duplicate() const {
    UniqueFd own(::fcntl(m_fd.get(), F_DUPFD_CLOEXEC, 0));
    if (!own.valid())
        return errorFromErrno(kReadFolderText, m_path, errno);
    return HeldFolder(std::move(own), m_path, m_id);
}

fs::path HeldFolder::pathOf(const std::string& name) const {
    return joinPath(m_path, name);
}

// Straight from the kernel through the held descriptor (readFolderNames seeks it to the start).
Result<std::vector<HeldFolder::Listed>> HeldFolder::list() const {
    std::vector<std::string> names;
    std::vector<unsigned char> types;
    if (int error = readFolderNames(m_fd.get(), names, &types)) {
        // A path descriptor: the folder may be worked in but not read.
        return errorFromErrno(kReadFolderText, m_path, error == EBADF ? EACCES : error);
    }
    std::vector<Listed> listed;
    listed.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        HeldEntry::Kind kind = kindOfType(types[i]);
        if (types[i] == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(m_fd.get(), names[i].c_str(), &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) != 0) {
                if (errno == ENOENT)
                    continue; // gone since the listing
                return errorFromErrno(kReadFolderText, pathOf(names[i]), errno);
            }
            kind = kindOfMode(st.st_mode);
        }
        listed.push_back({std::move(names[i]), kind});
    }
    return listed;
}

Result<std::vector<std::string>> HeldFolder::files() const {
    std::vector<std::string> special;
    return files(special);
}

Result<std::vector<std::string>> HeldFolder::files(std::vector<std::string>& special) const {
    special.clear();
    auto listed = list();
    if (!listed)
        return listed.error();
    std::vector<std::string> names;
    for (Listed& entry : listed.value()) {
        if (entry.name.front() == '.')
            continue;
        if (entry.kind == HeldEntry::Kind::File)
            names.push_back(std::move(entry.name));
        else if (entry.kind == HeldEntry::Kind::Other)
            special.push_back(std::move(entry.name));
    }
    // std::string compares as unsigned bytes, so this is the plain byte order.
    std::sort(names.begin(), names.end());
    std::sort(special.begin(), special.end());
    return names;
}

Result<std::vector<std::string>> HeldFolder::subfolders() const {
    auto listed = list();
    if (!listed)
        return listed.error();
    std::vector<std::string> names;
    for (Listed& entry : listed.value()) {
        if (entry.kind != HeldEntry::Kind::Folder)
            continue;
        // A mount point shows the folder mounted on it, with its own device or mount.
        FolderId id;
        const int error = idAt(m_fd.get(), entry.name.c_str(), id);
        if (error == ENOENT || error == ENOTDIR || (error == 0 && !onSameMount(id, m_id)))
            continue;
        if (error != 0)
            return errorFromErrno(kReadFolderText, pathOf(entry.name), error);
        names.push_back(std::move(entry.name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

Result<HeldEntry> HeldFolder::lookup(const std::string& name) const {
    if (!isPlainName(name))
        return errorFromErrno(kLookText, pathOf(name), EINVAL);
    struct stat st {};
    if (::fstatat(m_fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) != 0) {
        // A name the disk cannot hold (EILSEQ on exFAT, ENAMETOOLONG) is a name nothing has.
        if (lookupMeansAbsent(errno))
            return HeldEntry{};
        return errorFromErrno(kLookText, pathOf(name), errno);
    }
    HeldEntry entry;
    entry.kind = kindOfMode(st.st_mode);
    entry.mode = st.st_mode;
    entry.identity = {static_cast<std::uint64_t>(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec,
                      static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return entry;
}

Status HeldFolder::makeWritable(const std::string& name) const {
    const char* const operation = "属性の変更";
    const Result<HeldEntry> entry = lookup(name);
    if (!entry)
        return errorFromErrno(operation, pathOf(name), entry.code());
    if (entry.value().kind == HeldEntry::Kind::None)
        return errorFromErrno(operation, pathOf(name), ENOENT);
    if (entry.value().kind == HeldEntry::Kind::Link || (entry.value().mode & S_IWUSR))
        return {};
    return setMode(name, (entry.value().mode & 07777) | S_IWUSR);
}

Status HeldFolder::setMode(const std::string& name, unsigned mode) const {
    if (!isPlainName(name))
        return errorFromErrno("属性の変更", pathOf(name), EINVAL);
    // Refused for a link that took the name meanwhile: it is left as it is.
    if (::fchmodat(m_fd.get(), name.c_str(), mode, AT_SYMLINK_NOFOLLOW) != 0 && errno != EOPNOTSUPP)
        return errorFromErrno("属性の変更", pathOf(name), errno);
    return {};
}

Status HeldFolder::moveTo(const std::string& name, const HeldFolder& to, const std::string& newName) const {
    const char* const operation = "ファイルの移動";
    if (!isPlainName(name) || !isPlainName(newName))
        return errorFromErrno(operation, pathOf(name), EINVAL);
    if (::renameat2(m_fd.get(), name.c_str(), to.fd(), newName.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    if (errno != EINVAL && errno != ENOSYS)
        return errorFromErrno(operation, pathOf(name), errno);
    // A file system that cannot refuse to replace in one call: a link never replaces.
    if (::linkat(m_fd.get(), name.c_str(), to.fd(), newName.c_str(), 0) != 0)
        return errorFromErrno(operation, pathOf(name), errno);
    if (::unlinkat(m_fd.get(), name.c_str(), 0) != 0) {
        const int error = errno;
        ::unlinkat(to.fd(), newName.c_str(), 0);
        return errorFromErrno(operation, pathOf(name), error);
    }
    return {};
}

Status HeldFolder::removeFile(const std::string& name) const {
    if (!isPlainName(name))
        return errorFromErrno("ファイルの削除", pathOf(name), EINVAL);
    if (::unlinkat(m_fd.get(), name.c_str(), 0) != 0)
        return errorFromErrno("ファイルの削除", pathOf(name), errno);
    return {};
}

Status HeldFolder::removeFolder(const std::string& name) const {
    if (!isPlainName(name))
        return errorFromErrno("フォルダの削除", pathOf(name), EINVAL);
    if (::unlinkat(m_fd.get(), name.c_str(), AT_REMOVEDIR) != 0)
        return errorFromErrno("フォルダの削除", pathOf(name), errno);
    return {};
}

Status HeldFolder::makeFolder(const std::string& name, unsigned mode) const {
    if (!isPlainName(name))
        return errorFromErrno("フォルダの作成", pathOf(name), EINVAL);
    if (::mkdirat(m_fd.get(), name.c_str(), mode) != 0)
        return errorFromErrno("フォルダの作成", pathOf(name), errno);
    return {};
}

Status HeldFolder::enter() const {
    if (::fchdir(m_fd.get()) != 0)
        return errorFromErrno("作業フォルダの変更", m_path, errno);
    return {};
}

Result<UniqueFd> HeldFolder::openForReading(const std::string& name) const {
    if (!isPlainName(name))
        return errorFromErrno("ファイルの読み取り", pathOf(name), EINVAL);
    UniqueFd fd(
        ::openat(m_fd.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid())
        return errorFromErrno("ファイルの読み取り", pathOf(name), errno);
    return fd;
}

Result<UniqueFd> HeldFolder::createFile(const std::string& name, unsigned mode) const {
    if (!isPlainName(name))
        return errorFromErrno("ファイルの作成", pathOf(name), EINVAL);
    UniqueFd fd(
        ::openat(m_fd.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!fd.valid())
        return errorFromErrno("ファイルの作成", pathOf(name), errno);
    return fd;
}

Status HeldFolder::flush() const {
    int error = ::fsync(m_fd.get()) == 0 ? 0 : errno;
    if (error == EBADF) { // a path descriptor: flushed through an opening for reading
        UniqueFd readable(::openat(m_fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        error = !readable.valid() ? errno : ::fsync(readable.get()) == 0 ? 0 : errno;
    }
    if (error != 0 && error != EINVAL && error != EROFS)
        return errorFromErrno("フォルダの書き込み", m_path, error);
    return {};
}

namespace {

// Without /proc (a changed root, a sandbox): the path given, resolved, and taken only while it still
// names this very folder.
Result<fs::path> resolvedByPath(const fs::path& given, const struct stat& held) {
    char* resolved = ::realpath(given.c_str(), nullptr);
    if (!resolved)
        return errorFromErrno(kReadFolderText, given, errno);
    const fs::path path(resolved);
    std::free(resolved);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errorFromErrno(kReadFolderText, given, errno);
    if (st.st_dev != held.st_dev || st.st_ino != held.st_ino)
        return errorFromErrno(kReadFolderText, given, ESTALE);
    return path;
}

} // namespace

Result<fs::path> HeldFolder::resolvedPath() const {
    // A folder removed meanwhile has no place to name any more.
    struct stat st {};
    if (::fstat(m_fd.get(), &st) != 0)
        return errorFromErrno(kReadFolderText, m_path, errno);
    if (st.st_nlink == 0)
        return errorFromErrno(kReadFolderText, m_path, ENOENT);
    const std::string link = "/proc/self/fd/" + std::to_string(m_fd.get());
    std::string buffer(4096, '\0');
    const ssize_t length = ::readlink(link.c_str(), buffer.data(), buffer.size());
    if (length < 0 && errno == ENOENT)
        return resolvedByPath(m_path, st);
    if (length < 0 || std::size_t(length) == buffer.size() || buffer.front() != '/')
        return errorFromErrno(kReadFolderText, m_path, length < 0 ? errno : ENAMETOOLONG);
    buffer.resize(std::size_t(length));
    return fs::path(buffer);
}

} // namespace corvalin
