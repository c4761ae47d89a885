#pragma once

#include "platform/file_identity.h"
#include "platform/posix_io.h"
#include "platform/result.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// A folder held open by a descriptor, so that a run reaches everything in it by one name relative
// to that descriptor and never by a whole path again: a process that renames a folder on the way,
// or swaps one for a symbolic link, can no longer redirect what the run does. The path is kept for
// people (messages, the journal) only.
namespace corvalin {

// What tells a folder apart from one that took its name later: its file system, its inode and the
// mount it was reached through (a bind mount shows the same inode elsewhere).
struct FolderId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t mount = 0; // 0 where the kernel does not tell
    // The same folder reached the same way; a mount unknown on either side is not compared.
    bool sameAs(const FolderId& other) const;
};

// One entry of a held folder, as a lookup sees it without following a link.
struct HeldEntry {
    enum class Kind { None, File, Folder, Link, Other };
    Kind kind = Kind::None;
    FileIdentity identity;
    unsigned mode = 0;
};

class HeldFolder {
public:
    HeldFolder() = default;

    // The folder the user chose, opened once: the links in that path are the user's and are
    // followed; nothing below it ever is.
    static Result<HeldFolder> open(const std::filesystem::path& path);

    // The subfolder `name`, opened relative to this one: never a symbolic link (ENOTDIR, ELOOP),
    // never the top of another mount (EXDEV). With `expected`, also the very folder it was when
    // it was seen before (ESTALE when another folder took its name).
    Result<HeldFolder> child(const std::string& name) const;
    Result<HeldFolder> child(const std::string& name, const FolderId& expected) const;
    // The same, also where another file system is mounted on it: a folder of the program's own
    // (the history folder), which may lie on a disk of its own.
    Result<HeldFolder> childOnAnyMount(const std::string& name) const;

    // The folder `path` names at or below this one, opened one component at a time with child():
    // no link is followed on the way, and a path with an empty, "." or ".." component, or one that
    // does not lie below this folder's path, is refused (EINVAL).
    Result<HeldFolder> below(const std::filesystem::path& path) const;

    // The same folder, held a second time.
    Result<HeldFolder> duplicate() const;

    bool valid() const { return m_fd.valid(); }
    int fd() const { return m_fd.get(); }
    const std::filesystem::path& path() const { return m_path; }
    const FolderId& id() const { return m_id; }
    // The path of an entry, for people.
    std::filesystem::path pathOf(const std::string& name) const;

    // Every entry's name, in the order the file system gives them, with its kind; the kind of an
    // entry whose file system does not say is looked up without following a link.
    struct Listed {
        std::string name;
        HeldEntry::Kind kind;
    };
    Result<std::vector<Listed>> list() const;
    // The regular files that are not hidden, sorted by their bytes: what a file list shows.
    Result<std::vector<std::string>> files() const;
    // The same, and into `special` the entries that are neither files, folders nor links (FIFOs,
    // sockets, devices), hidden ones left out, sorted the same way.
    Result<std::vector<std::string>> files(std::vector<std::string>& special) const;

    // The real subfolders, hidden ones too, that lie on this folder's own mount (no mount point,
    // no bind mount), sorted by their bytes.
    Result<std::vector<std::string>> subfolders() const;

    // What `name` is now; Kind::None when nothing has that name.
    Result<HeldEntry> lookup(const std::string& name) const;

    // Gives the owner write permission on a file (the other mode bits stay), without opening it
    // (a mode of 000 or a FIFO would stop that) and without following a link, which has no mode
    // of its own and is left as it is.
    Status makeWritable(const std::string& name) const;
    // Sets an entry's permission bits, never following a link.
    Status setMode(const std::string& name, unsigned mode) const;
    // Renames an entry into `to` (this folder or another on the same file system) without ever
    // replacing what has the new name there: EEXIST when it is taken.
    Status moveTo(const std::string& name, const HeldFolder& to, const std::string& newName) const;
    Status removeFile(const std::string& name) const;
    // Only an empty folder (ENOTEMPTY otherwise).
    Status removeFolder(const std::string& name) const;
    // EEXIST when the name is taken.
    Status makeFolder(const std::string& name, unsigned mode = 0777) const;
    // Makes this folder the process's working folder.
    Status enter() const;

    // A file of this folder opened for reading, never through a link (ELOOP) and never waiting on a
    // FIFO that took its name; the caller checks what it opened.
    Result<UniqueFd> openForReading(const std::string& name) const;
    // A new file created for writing, never replacing anything nor following a link: EEXIST when
    // the name is taken.
    Result<UniqueFd> createFile(const std::string& name, unsigned mode = 0600) const;
    // The folder's entries on the disk (a file system that cannot flush a folder counts as done).
    Status flush() const;
    // Where the folder lies now, every link resolved, as the kernel names the held descriptor.
    Result<std::filesystem::path> resolvedPath() const;

private:
    HeldFolder(UniqueFd fd, std::filesystem::path path, FolderId id)
        : m_fd(std::move(fd)), m_path(std::move(path)), m_id(id) {}
    static Result<HeldFolder> adopt(UniqueFd fd, std::filesystem::path path);

    UniqueFd m_fd;
    std::filesystem::path m_path;
    FolderId m_id;
};

// True for a name that is one entry of a folder: not empty, not "." or "..", no "/".
bool isPlainName(const std::string& name);

} // namespace corvalin
