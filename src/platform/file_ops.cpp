#include "platform/file_ops.h"

#include "platform/paths.h"
#include "platform/posix_io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const char* const readFolderText = "フォルダの読み取り";

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

bool isHidden(const char* name) {
    return name[0] == '.';
}

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Reads every entry of a folder and keeps those `keep` accepts. `keep` gets the folder's
// descriptor and the entry, and returns 1 to keep, 0 to skip, or -errno to fail.
template <class Keep> Result<std::vector<std::string>> collectEntries(const fs::path& folder, Keep keep) {
    DirPtr dir(::opendir(folder.c_str()));
    if (!dir)
        return errorFromErrno(readFolderText, folder, errno);
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0)
                return errorFromErrno(readFolderText, folder, errno);
            break;
        }
        if (isDotOrDotDot(entry->d_name))
            continue;
        const int verdict = keep(::dirfd(dir.get()), *entry);
        if (verdict < 0)
            return errorFromErrno(readFolderText, folder, -verdict);
        if (verdict > 0)
            names.emplace_back(entry->d_name);
    }
    // std::string compares as unsigned bytes, so this is the plain byte order.
    std::sort(names.begin(), names.end());
    return names;
}

// The entry's type without following a link: from readdir when the file system gives it,
// else from fstatat. 0 for an entry that vanished in between.
int entryType(int dirFd, const dirent& entry, struct stat* st) {
    if (entry.d_type != DT_UNKNOWN && !st)
        return DTTOIF(entry.d_type);
    struct stat own {};
    struct stat* target = st ? st : &own;
    if (::fstatat(dirFd, entry.d_name, target, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) != 0)
        return errno == ENOENT ? 0 : -errno;
    return static_cast<int>(target->st_mode & S_IFMT);
}

} // namespace

EntryKind lookupEntry(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return EntryKind::None;
    if (S_ISREG(st.st_mode))
        return EntryKind::File;
    if (S_ISDIR(st.st_mode))
        return EntryKind::Folder;
    return EntryKind::Other;
}

bool isFolder(const fs::path& path) {
    return folderError(path) == 0;
}

int folderError(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

fs::path nearestExistingFolder(const fs::path& folder, const fs::path& top) {
    fs::path candidate = withoutTrailingSlash(folder);
    while (!isFolder(candidate) && candidate != withoutTrailingSlash(top) && isSameOrBelow(candidate, top) &&
           candidate.has_relative_path())
        candidate = candidate.parent_path();
    return isSameOrBelow(candidate, top) ? candidate : top;
}

Result<std::vector<std::string>> listFiles(const fs::path& folder) {
    std::vector<std::string> special;
    return listFiles(folder, special);
}

Result<std::vector<std::string>> listFiles(const fs::path& folder, std::vector<std::string>& special) {
    special.clear();
    auto files = collectEntries(folder, [&special](int dirFd, const dirent& entry) {
        if (isHidden(entry.d_name))
            return 0;
        const int type = entryType(dirFd, entry, nullptr);
        if (type == S_IFIFO || type == S_IFSOCK || type == S_IFCHR || type == S_IFBLK)
            special.emplace_back(entry.d_name);
        return type < 0 ? type : type == S_IFREG ? 1 : 0;
    });
    std::sort(special.begin(), special.end());
    return files;
}

Status forEachName(const fs::path& folder, const std::function<void(std::string_view name)>& named) {
    return collectEntries(folder,
                          [&named](int, const dirent& entry) {
                              named(entry.d_name);
                              return 0;
                          })
        .status();
}

namespace {

// The mount an entry belongs to, which tells a bind mount of the same file system apart; nothing
// where the kernel cannot say.
std::optional<std::uint64_t> mountIdAt(int dirFd, const char* name, int flags) {
    struct statx info {};
    if (::statx(dirFd, name, flags | AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_MNT_ID, &info) != 0 ||
        !(info.stx_mask & STATX_MNT_ID))
        return std::nullopt;
    return info.stx_mnt_id;
}

} // namespace

Result<std::vector<std::string>> listSubfolders(const fs::path& folder, SubfolderFilter filter) {
    std::optional<dev_t> ownDevice;
    std::optional<std::uint64_t> ownMount;
    return collectEntries(folder, [&](int dirFd, const dirent& entry) {
        if (!filter.includeHidden && isHidden(entry.d_name))
            return 0;
        // The device is only asked of folders: a child folder holds far more files than folders,
        // and the survey would otherwise pay a call for every picture.
        const bool maybeFolder = entry.d_type == DT_DIR || entry.d_type == DT_UNKNOWN;
        if (!maybeFolder)
            return 0;
        struct stat st {};
        const int type = entryType(dirFd, entry, filter.sameFileSystemOnly ? &st : nullptr);
        if (type != S_IFDIR)
            return type < 0 ? type : 0;
        if (!filter.sameFileSystemOnly)
            return 1;
        if (!ownDevice) {
            struct stat own {};
            if (::fstat(dirFd, &own) != 0)
                return -errno;
            ownDevice = own.st_dev;
            ownMount = mountIdAt(dirFd, "", AT_EMPTY_PATH);
        }
        // A mount point reports the device of the file system mounted on it, and a bind mount of
        // the same file system a mount of its own.
        if (st.st_dev != *ownDevice)
            return 0;
        const auto mount = ownMount ? mountIdAt(dirFd, entry.d_name, 0) : std::nullopt;
        return mount && *mount != *ownMount ? 0 : 1;
    });
}

Status checkFolderReadable(const fs::path& folder) {
    DirPtr dir(::opendir(folder.c_str()));
    if (!dir)
        return errorFromErrno(readFolderText, folder, errno);
    return {};
}

Status setNormalAttributes(const fs::path& file) {
    const char* const operation = "属性の変更";
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0)
        return errorFromErrno(operation, file, errno);
    // A symbolic link has no mode of its own; chmod would change its target.
    if (S_ISLNK(st.st_mode) || (st.st_mode & S_IWUSR))
        return {};
    // Nor is one followed that took the file's name since the look-up (EOPNOTSUPP): it stays as it is.
    if (::fchmodat(AT_FDCWD, file.c_str(), (st.st_mode & 07777) | S_IWUSR, AT_SYMLINK_NOFOLLOW) != 0 &&
        errno != EOPNOTSUPP)
        return errorFromErrno(operation, file, errno);
    return {};
}

Status removeFile(const fs::path& file) {
    if (::unlink(file.c_str()) != 0)
        return errorFromErrno("ファイルの削除", file, errno);
    return {};
}

Status createFolder(const fs::path& folder) {
    if (::mkdir(folder.c_str(), 0777) != 0)
        return errorFromErrno("フォルダの作成", folder, errno);
    return {};
}

Status removeEmptyFolder(const fs::path& folder) {
    if (::rmdir(folder.c_str()) != 0)
        return errorFromErrno("フォルダの削除", folder, errno);
    return {};
}

Status createFolderWithParents(const fs::path& folder, unsigned mode) {
    fs::path partial;
    for (const fs::path& component : folder) {
        partial /= component;
        if (component != "/" && ::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST)
            return errorFromErrno("フォルダの作成", partial, errno);
    }
    if (!isFolder(folder))
        return errorFromErrno("フォルダの作成", folder, ENOTDIR);
    return {};
}

Status setWorkingFolder(const fs::path& folder) {
    if (::chdir(folder.c_str()) != 0)
        return errorFromErrno("作業フォルダの変更", folder, errno);
    return {};
}

fs::path workingFolder() {
    std::string buffer(256, '\0');
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(buffer.find('\0'));
    return buffer;
}

namespace {

// Creates a new, unique hidden file beside `file` and returns its descriptor and name.
int createTempBeside(const std::string& file, UniqueFd& fd, std::string& tempName) {
    static std::atomic<unsigned> counter{0};
    const std::string folder = folderOf(file);
    const std::string name = file.substr(file.rfind('/') + 1); // npos + 1 == 0: no folder part
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName = (folder == "/" ? "" : folder) + "/." + name + ".tmp-" + std::to_string(::getpid()) + "-" +
                   std::to_string(counter++);
        fd = UniqueFd(::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd.valid())
            return 0;
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

// Writes the temporary file completely; the target keeps its mode when it already exists.
int fillTemp(UniqueFd& fd, const std::string& file, std::string_view bytes, Durability durability) {
    struct stat old {};
    if (::stat(file.c_str(), &old) == 0 && S_ISREG(old.st_mode) &&
        ::fchmod(fd.get(), old.st_mode & 07777) != 0)
        return errno;
    if (const int error = writeAll(fd.get(), bytes))
        return error;
    if (durability == Durability::PowerLoss && ::fsync(fd.get()) != 0)
        return errno;
    return fd.close();
}

} // namespace

Status writeFileAtomically(const fs::path& file, std::string_view bytes, Durability durability) {
    const char* const operation = "ファイルの書き込み";
    UniqueFd fd;
    std::string tempName;
    if (const int error = createTempBeside(file.native(), fd, tempName))
        return errorFromErrno(operation, file, error);
    int error = fillTemp(fd, file.native(), bytes, durability);
    if (error == 0 && ::rename(tempName.c_str(), file.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(tempName.c_str());
        return errorFromErrno(operation, file, error);
    }
    if (durability == Durability::PowerLoss) {
        if (const int syncError = syncFolder(folderOf(file.native())))
            return errorFromErrno(operation, file, syncError);
    }
    return {};
}

Status removeLeftoverWrites(const fs::path& file) {
    const std::string folder = folderOf(file.native());
    const std::string prefix = "." + file.filename().native() + ".tmp-";
    std::vector<std::string> names;
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (const int error = fd.valid() ? readFolderNames(fd.get(), names) : errno)
        return error == ENOENT ? Status{} : errorFromErrno(readFolderText, folder, error);
    for (const std::string& name : names) {
        struct stat st {};
        const pid_t writer = name.starts_with(prefix) ? pidInTempName(name, prefix.size()) : 0;
        if (writer == 0 || ownerStillRunning(writer) ||
            ::fstatat(fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (::unlinkat(fd.get(), name.c_str(), 0) != 0 && errno != ENOENT)
            return errorFromErrno("ファイルの削除", joinPath(folder, name), errno);
    }
    return {};
}

Result<std::string> readWholeFile(const fs::path& file, std::size_t limit) {
    const char* const operation = "ファイルの読み取り";
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid())
        return errorFromErrno(operation, file, errno);
    std::string bytes;
    if (const int error = readAll(fd.get(), bytes, limit))
        return errorFromErrno(operation, file, error);
    return bytes;
}

Result<std::string> readFileStart(const fs::path& file, std::size_t count) {
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid())
        return errorFromErrno("ファイルの読み取り", file, errno);
    std::string bytes(count, '\0');
    const ssize_t got = readFull(fd.get(), bytes.data(), count);
    if (got < 0)
        return errorFromErrno("ファイルの読み取り", file, errno);
    bytes.resize(static_cast<std::size_t>(got));
    return bytes;
}

} // namespace corvalin
