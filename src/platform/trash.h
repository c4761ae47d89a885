#pragma once

#include "platform/held_folder.h"
#include "platform/result.h"

#include <filesystem>
#include <memory>
#include <string>

// The desktop Trash, as every Linux desktop's file manager shares it: the home trash for the file
// system that holds it, a trash at the top folder of every other file system. An item goes in by
// one rename within its own file system, never by a copy, with an info file beside it that records
// where it came from, so that the file manager can show it and put it back. Names are raw bytes.
namespace corvalin {

// Where one item goes, or went. All absolute.
struct TrashPlace {
    // Where the item was, with the symbolic links of its folder resolved.
    std::filesystem::path original;
    std::filesystem::path trashedFile; // <trash>/files/<name>
    std::filesystem::path infoFile;    // <trash>/info/<name>.trashinfo
};

// The home trash: $XDG_DATA_HOME/Trash, else ~/.local/share/Trash.
std::filesystem::path homeTrashFolder();

// True for a trash folder: ".Trash" or ".Trash-<uid>" (each volume's), or the home trash. A run
// never takes anything out of one.
bool isTrashFolder(const std::filesystem::path& folder);

// The trashes one run puts items into. Each file system's trash is found, made where missing and
// checked once, then kept open, so that an item costs its info file and its rename. Before each
// item the kept trash is still the very folder its path names, not following a link: one removed
// or replaced meanwhile is found and checked again as at first (made again where missing, refused
// where a link or someone else's), and so is one that a rename into it finds gone.
class OpenTrashes {
public:
    OpenTrashes();
    ~OpenTrashes();
    OpenTrashes(const OpenTrashes&) = delete;
    OpenTrashes& operator=(const OpenTrashes&) = delete;

    // Can the trash that serves the file system of `onFileSystem` take items from there? Makes
    // the trash's folders when they are missing. The error names the folder and the reason: a top
    // folder that cannot be written, a trash folder that is a symbolic link or someone else's.
    Status checkUsable(const std::filesystem::path& onFileSystem);

    // Creates the info file of the item `name` of `folder` in the trash of its file system, under a
    // name that nothing in the trash uses yet. Nothing has moved.
    Result<TrashPlace> reserve(const HeldFolder& folder, const std::string& name);
    // The same for an item named by its path, its folder opened by that path.
    Result<TrashPlace> reserve(const std::filesystem::path& item);

    // Renames the item `name` of `folder` into its reserved place; a folder the owner may not write
    // first gets that permission, which moving it to another parent needs. Never copies, never
    // replaces and never follows a link. On failure the info file goes again and the item stays
    // where it was.
    Status moveInto(const HeldFolder& folder, const std::string& name, const TrashPlace& place);
    // The same for the item where its place says it was, its folder opened by that path.
    Status moveInto(const TrashPlace& place);

    // The info folder that `place`'s info file was made in, held a second time: where the info
    // files of items waiting for the trash are flushed. ENOENT when no kept trash holds it.
    Result<HeldFolder> infoFolder(const TrashPlace& place) const;
    // Removes the info file of a place whose item never moved, through the kept info folder.
    Status release(const TrashPlace& place);

private:
    class Kept;
    std::unique_ptr<Kept> m_kept;
};

// The same for one item or one check, with a trash found afresh.
Status checkTrashUsable(const std::filesystem::path& onFileSystem);
Result<TrashPlace> reserveTrashPlace(const std::filesystem::path& item);
Status moveIntoTrash(const TrashPlace& place);
Status moveIntoTrash(const HeldFolder& folder, const std::string& name, const TrashPlace& place);

// Removes the info file of a place whose item never moved.
Status releaseTrashPlace(const TrashPlace& place);

// Renames the trashed item back to `to` without replacing anything (EEXIST when the name is
// taken), then removes its info file.
Status restoreFromTrash(const TrashPlace& place, const std::filesystem::path& to);
// The same for the item `name` of a trash's held "files" folder, back to `newName` in `to`: on
// every disk, including those without links or a rename that refuses to replace (a file is then
// copied to its name, a folder renamed onto an empty one made for it). The info file stays.
Status moveOutOfTrash(const HeldFolder& files, const std::string& name, const HeldFolder& to,
                      const std::string& newName);

struct TrashInfo {
    TrashPlace place;
    std::string deletionDate;
};

// Reads one info file of a trash: where the item came from and where it lies in the trash.
Result<TrashInfo> readTrashInfo(const std::filesystem::path& infoFile);

} // namespace corvalin

// Repairing what a power cut left in a trash (platform/trash_repair.h).
namespace corvalin {

// The trash that takes items from `folder`'s file system (holding "files" and "info"), found as
// moving an item there would find it, without making any of its folders.
Result<std::filesystem::path> trashFolderServing(const std::filesystem::path& folder);

// What an info file of `trash` says for an item that was at `original` (absolute, its folders'
// links resolved): the path itself in the home trash, else relative to the trash's top folder when
// the item lay below it.
std::string trashInfoPathValue(const std::filesystem::path& trash, const std::string& original);

} // namespace corvalin
