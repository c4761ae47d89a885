// Forced deletion of a folder tree, and the listing of one that a deletion can go by. Every step
// goes through the descriptor of the folder it works in, opened without following links, so a
// subfolder swapped for a symbolic link while the deletion runs only ever costs the link itself,
// never what it points to.
#include "platform/file_ops.h"

#include "platform/held_folder.h"
#include "platform/paths.h"
#include "platform/posix_io.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

// Deep enough for any real download tree, and well inside the descriptor limit.
constexpr int maxDepth = 512;

struct TreeWalk {
    dev_t device = 0;
    std::optional<std::uint64_t> mountId; // tells a bind mount of the same file system apart
    std::string failedPath;
};

std::optional<std::uint64_t> mountIdOf(int fd) {
    struct statx info {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_NO_AUTOMOUNT, STATX_MNT_ID, &info) != 0 ||
        !(info.stx_mask & STATX_MNT_ID))
        return std::nullopt;
    return info.stx_mnt_id;
}

// Fails with EXDEV when the folder lies on another mount than the top folder.
int checkSameMount(int fd, const TreeWalk& walk, struct stat& st) {
    if (::fstat(fd, &st) != 0)
        return errno;
    const auto mountId = mountIdOf(fd);
    if (st.st_dev != walk.device || (mountId && walk.mountId && *mountId != *walk.mountId))
        return EXDEV;
    return 0;
}

// Opens a subfolder without following a link; for clearing (`giveRights`), also gives the owner
// the rights that removing its entries needs. A folder the owner may not even read or search gets
// them through a path descriptor, so that a link swapped in meanwhile cannot redirect the change.
int openFolder(int parentFd, const std::string& name, const TreeWalk& walk, UniqueFd& fd,
               bool giveRights = true) {
    struct stat st {};
    fd = UniqueFd(::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid() && errno == EACCES && giveRights) {
        UniqueFd pathFd(::openat(parentFd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!pathFd.valid())
            return errno;
        if (const int error = checkSameMount(pathFd.get(), walk, st))
            return error;
        const std::string viaProc = "/proc/self/fd/" + std::to_string(pathFd.get());
        if (::chmod(viaProc.c_str(), (st.st_mode & 07777) | S_IRWXU) != 0)
            return errno;
        fd = UniqueFd(::openat(pathFd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    if (!fd.valid())
        return errno;
    if (const int error = checkSameMount(fd.get(), walk, st))
        return error;
    if (giveRights && (st.st_mode & S_IRWXU) != S_IRWXU &&
        ::fchmod(fd.get(), (st.st_mode & 07777) | S_IRWXU) != 0)
        return errno;
    return 0;
}

int clearFolder(int folderFd, const std::string& path, TreeWalk& walk, int depth, const FolderTree* listed);

// Deletes one subfolder with its content: all of it, or what `listed` holds.
int removeSubfolder(int parentFd, const std::string& name, const std::string& path, TreeWalk& walk, int depth,
                    const FolderTree* listed) {
    walk.failedPath = path;
    UniqueFd fd;
    int error = openFolder(parentFd, name, walk, fd);
    // No longer a folder: removed like any other entry, unless it took the name after the listing.
    if ((error == ENOTDIR || error == ELOOP) && !listed)
        return ::unlinkat(parentFd, name.c_str(), 0) == 0 || errno == ENOENT ? 0 : errno;
    if (error == ENOENT || error == ENOTDIR || error == ELOOP)
        return 0;
    if (error == 0)
        error = clearFolder(fd.get(), path, walk, depth + 1, listed);
    if (error != 0)
        return error;
    walk.failedPath = path;
    if (::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT)
        return 0;
    error = errno;
    // FAT through FUSE refuses a folder that still holds something with EPERM, not ENOTEMPTY.
    std::vector<std::string> left;
    if (error == EPERM && fd.valid() && readFolderNames(fd.get(), left) == 0 && !left.empty())
        return ENOTEMPTY;
    return error;
}

// What the listing holds and nothing else: an entry that arrived since stays, and so does the folder
// holding it (its removal fails with ENOTEMPTY). A folder that took a listed file's name is left.
int clearListed(int folderFd, const std::string& path, TreeWalk& walk, int depth, const FolderTree& listed) {
    for (const std::string& name : listed.others) {
        walk.failedPath = joinPath(path, name).native();
        if (::unlinkat(folderFd, name.c_str(), 0) != 0 && errno != ENOENT && errno != EISDIR)
            return errno;
    }
    for (const auto& [name, subtree] : listed.folders) {
        if (const int error =
                removeSubfolder(folderFd, name, joinPath(path, name).native(), walk, depth, &subtree))
            return error;
    }
    return 0;
}

int clearFolder(int folderFd, const std::string& path, TreeWalk& walk, int depth, const FolderTree* listed) {
    if (depth > maxDepth)
        return ENAMETOOLONG;
    if (listed)
        return clearListed(folderFd, path, walk, depth, *listed);
    std::vector<std::string> names;
    if (const int error = readFolderNames(folderFd, names))
        return error;
    for (const std::string& name : names) {
        const std::string entryPath = joinPath(path, name).native();
        walk.failedPath = entryPath;
        struct stat st {};
        if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) != 0) {
            if (errno == ENOENT)
                continue;
            return errno;
        }
        int error = 0;
        if (!S_ISDIR(st.st_mode))
            error = ::unlinkat(folderFd, name.c_str(), 0) == 0 || errno == ENOENT ? 0 : errno;
        else if (st.st_dev != walk.device) // a mount point: not entered at all
            error = EXDEV;
        else
            error = removeSubfolder(folderFd, name, entryPath, walk, depth, nullptr);
        if (error != 0)
            return error;
    }
    return 0;
}

// Opens the top folder itself for reading, refusing a symbolic link, and notes its file system.
int openTop(int parentFd, const std::string& name, UniqueFd& fd, TreeWalk& walk) {
    struct stat st {};
    if (::fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR; // a link to a folder included: its target is not ours to delete
    walk.device = st.st_dev;
    if (const int error = openFolder(parentFd, name, walk, fd, false))
        return error == ELOOP ? ENOTDIR : error;
    walk.mountId = mountIdOf(fd.get());
    return 0;
}

// Lists a folder and every folder below it without changing anything: no rights are given, so a
// folder that cannot be read fails the listing. Another mount is not entered and not listed.
int readTree(int folderFd, const std::string& path, TreeWalk& walk, int depth, FolderTree& tree) {
    if (depth > maxDepth)
        return ENAMETOOLONG;
    std::vector<std::string> names;
    std::vector<unsigned char> types;
    walk.failedPath = path;
    if (const int error = readFolderNames(folderFd, names, &types))
        return error;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        struct stat st {};
        if (types[i] == DT_UNKNOWN && ::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            types[i] = S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
        if (types[i] != DT_DIR) {
            tree.others.push_back(name);
            continue;
        }
        const std::string entryPath = joinPath(path, name).native();
        walk.failedPath = entryPath;
        UniqueFd fd;
        int error = openFolder(folderFd, name, walk, fd, false);
        if (error == ENOTDIR || error == ELOOP) // no longer a folder
            tree.others.push_back(name);
        if (error == ENOENT || error == ENOTDIR || error == ELOOP || error == EXDEV)
            continue;
        FolderTree subtree;
        if (error == 0)
            error = readTree(fd.get(), entryPath, walk, depth + 1, subtree);
        if (error != 0)
            return error;
        tree.folders.emplace_back(name, std::move(subtree));
    }
    return 0;
}

// The parent folder of `folder` opened, and the folder itself as the walk's top.
int openTopOf(const std::string& path, UniqueFd& parentFd, UniqueFd& fd, TreeWalk& walk) {
    const std::string name = ownName(path);
    if (path.empty() || name == "/" || name == "." || name == "..")
        return EINVAL;
    parentFd = UniqueFd(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parentFd.valid())
        return errno;
    return openTop(parentFd.get(), name, fd, walk);
}

} // namespace

Result<FolderTree> readFolderTree(const fs::path& folder) {
    const char* const operation = "フォルダの読み取り";
    const std::string path = withoutTrailingSlash(folder).native();
    UniqueFd parentFd;
    UniqueFd fd;
    TreeWalk walk;
    if (const int error = openTopOf(path, parentFd, fd, walk))
        return errorFromErrno(operation, folder, error);
    FolderTree tree;
    if (const int error = readTree(fd.get(), path, walk, 0, tree))
        return errorFromErrno(operation, walk.failedPath, error);
    return tree;
}

bool anyName(const FolderTree& tree, const std::function<bool(std::string_view name)>& matches) {
    for (const std::string& name : tree.others) {
        if (matches(name))
            return true;
    }
    for (const auto& [name, subtree] : tree.folders) {
        if (anyName(subtree, matches))
            return true;
    }
    return false;
}

Result<FolderTree> readFolderTree(const HeldFolder& folder) {
    TreeWalk walk;
    walk.device = static_cast<dev_t>(folder.id().device);
    // Taken when the folder was opened; asked again only where the kernel did not tell then.
    walk.mountId = folder.id().mount ? std::optional(folder.id().mount) : mountIdOf(folder.fd());
    FolderTree tree;
    if (const int error = readTree(folder.fd(), folder.path().native(), walk, 0, tree))
        return errorFromErrno("フォルダの読み取り", walk.failedPath, error);
    return tree;
}

Status removeTree(const HeldFolder& parent, const std::string& name, const FolderId& expected,
                  const FolderTree* listed) {
    const char* const operation = "フォルダの削除";
    const fs::path path = parent.pathOf(name);
    if (!isPlainName(name))
        return errorFromErrno(operation, path, EINVAL);
    // Another folder that took its name since it was seen is not ours to delete: told apart before
    // any right is given.
    const UniqueFd top(::openat(parent.fd(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!top.valid() || ::fstat(top.get(), &st) != 0)
        return errorFromErrno(operation, path, errno == ELOOP ? ENOTDIR : errno);
    if (st.st_dev != expected.device || st.st_ino != expected.inode)
        return errorFromErrno(operation, path, ESTALE);
    TreeWalk walk;
    walk.device = st.st_dev;
    UniqueFd fd;
    if (const int error = openFolder(top.get(), ".", walk, fd))
        return errorFromErrno(operation, path, error);
    walk.mountId = mountIdOf(fd.get());
    if (const int error = clearFolder(fd.get(), path.native(), walk, 0, listed))
        return errorFromErrno(operation, walk.failedPath, error);
    fd.close();
    if (::unlinkat(parent.fd(), name.c_str(), AT_REMOVEDIR) != 0)
        return errorFromErrno(operation, path, errno);
    return {};
}

} // namespace corvalin
