#pragma once

#include "platform/result.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The file operations of the program, over POSIX calls. Paths are byte strings: names that are not
// valid UTF-8 work unchanged. Every operation reports failure with the path and errno.
namespace corvalin {

class HeldFolder;
struct FolderId;

enum class EntryKind { None, File, Folder, Other };

// What a name is, without following a symbolic link (a link is Other).
EntryKind lookupEntry(const std::filesystem::path& path);

// True for an existing folder, following symbolic links (a link to a folder may be navigated to).
bool isFolder(const std::filesystem::path& path);

// Why `path` is no folder to show: 0 when it is one, else the system's reason (ENOTDIR for
// anything that is not a folder).
int folderError(const std::filesystem::path& path);

// `folder` itself when it exists, else its nearest existing ancestor, going no higher than `top`
// (returned when nothing below it exists).
std::filesystem::path nearestExistingFolder(const std::filesystem::path& folder,
                                            const std::filesystem::path& top);

// Regular files of a folder that are not hidden (no leading "."), no symbolic links, no devices,
// sorted by their bytes. This is what every file list shows and what the runs handle.
Result<std::vector<std::string>> listFiles(const std::filesystem::path& folder);

// listFiles, and into `special` the names of the entries that are neither files, folders nor links
// (FIFOs, sockets, devices), hidden ones left out, sorted the same way: no run moves one, but a name
// may make one look like a picture.
Result<std::vector<std::string>> listFiles(const std::filesystem::path& folder,
                                           std::vector<std::string>& special);

// Calls `named` with every name directly in `folder`, whatever its entry is (hidden ones, links,
// folders included), in the order the file system gives them; nothing beyond the folder is read.
Status forEachName(const std::filesystem::path& folder,
                   const std::function<void(std::string_view name)>& named);

struct SubfolderFilter {
    bool includeHidden = false;
    // Leave out subfolders that are mount points: of another file system, or bind mounts.
    bool sameFileSystemOnly = false;
};

// Direct subfolders (real folders, never symbolic links), sorted by their bytes.
Result<std::vector<std::string>> listSubfolders(const std::filesystem::path& folder,
                                                SubfolderFilter filter = {});

// A folder tree as read once, so that a removal can go by what was seen: the names of the entries
// that are no folders (hidden ones, links and special files included) and each subfolder's own
// listing. Symbolic links are not followed, other mounts not entered nor listed.
struct FolderTree {
    std::vector<std::string> others;
    std::vector<std::pair<std::string, FolderTree>> folders;
};

// Reads the tree below `folder` (a real folder, not a link: ENOTDIR), changing nothing: a folder in
// it that cannot be read fails it, naming that folder.
Result<FolderTree> readFolderTree(const std::filesystem::path& folder);

// True when an entry of the tree, at any depth, that is no folder has a name `matches` accepts.
bool anyName(const FolderTree& tree, const std::function<bool(std::string_view name)>& matches);

// Opens the folder for reading and closes it again: "can this folder be shown?"
Status checkFolderReadable(const std::filesystem::path& folder);

// Gives the owner write permission (the other mode bits stay); nothing when it already has it.
Status setNormalAttributes(const std::filesystem::path& file);

// Moves a file without ever replacing one. Within one file system an atomic rename that refuses to
// replace; across file systems a copy to a hidden temporary name in the target folder, flushed to
// disk, linked into place, then the source removed. Fails with EEXIST when `to` is taken; on any
// failure the source is still there and nothing is left under `to`. Across file systems only
// regular files move (anything else fails with EXDEV); the copy gets the source's mode plus owner
// write and its times.
Status moveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

// The file `name` of `from` moved to `newName` in `to` on another file system: a batch of one copy
// (cross_device_batch.h), every file reached by its name in its folder. EEXIST when the new name is
// taken; on any failure the source is still there and nothing is left under the new name.
Status moveAcross(const HeldFolder& from, const std::string& name, const HeldFolder& to,
                  const std::string& newName);

// What a failed move (moveNoReplace, a batch of copies) says it could not do.
inline constexpr const char* kMoveText = "ファイルの移動";

// Finishes or undoes a cross-file-system move that was interrupted (killed process, power loss)
// in `folder`: afterwards every file exists exactly once and no temporary file is left. The
// temporary files of another running instance of this program are left alone; call it before this
// process moves anything into `folder`, not while it does.
Status recoverInterruptedMoves(const std::filesystem::path& folder);
Status recoverInterruptedMoves(const HeldFolder& folder);

Status removeFile(const std::filesystem::path& file);

// The same for a folder held.
Result<FolderTree> readFolderTree(const HeldFolder& folder);

// Deletes the subfolder `name` of `parent` with everything in it, read-only entries included. It
// must still be the folder `expected` (ESTALE otherwise), and is opened without following a link
// (a link fails with ENOTDIR; "." and ".." with EINVAL). Never follows a symbolic link below it (a
// link is removed, not its target) and never enters another mounted file system (fails with EXDEV
// naming the mount point). Stops at the first failure; what is gone stays gone. With `listed`
// (read by readFolderTree), only what the listing holds is deleted: an entry that arrived since
// stays, and so does every folder holding one (ENOTEMPTY, naming the folder).
Status removeTree(const HeldFolder& parent, const std::string& name, const FolderId& expected,
                  const FolderTree* listed = nullptr);

// Creates one folder; its parent must exist. Fails with EEXIST when the name is taken.
Status createFolder(const std::filesystem::path& folder);

// Removes a folder only when it is empty (ENOTEMPTY or EEXIST otherwise).
Status removeEmptyFolder(const std::filesystem::path& folder);

// Creates a folder and those of its parents that are missing, with `mode` (private folders for
// the program's own files). A folder that exists already is no failure.
Status createFolderWithParents(const std::filesystem::path& folder, unsigned mode = 0777);

Status setWorkingFolder(const std::filesystem::path& folder);
std::filesystem::path workingFolder();

enum class Durability { ProcessCrash, PowerLoss };

// Replaces a file's content at once: written to a temporary file beside it, then renamed over it,
// so a reader sees either the old or the new bytes, never a cut-short file. PowerLoss also flushes
// the data and the folder to disk.
Status writeFileAtomically(const std::filesystem::path& file, std::string_view bytes,
                           Durability durability = Durability::PowerLoss);

// Removes the temporary files that a killed process left beside `file` while it replaced it with
// writeFileAtomically; those of an instance still running stay. Call it before this process writes
// `file`.
Status removeLeftoverWrites(const std::filesystem::path& file);

// Reads a whole file, failing with EFBIG beyond `limit` bytes.
Result<std::string> readWholeFile(const std::filesystem::path& file, std::size_t limit = 16 << 20);

// Reads the first `count` bytes of a file (all of a shorter one).
Result<std::string> readFileStart(const std::filesystem::path& file, std::size_t count);

} // namespace corvalin
