// The safe floor: what a run that keeps the defaults cannot leave out, done in the plainest way, so
// that the run's own cost shows apart from the cost of what it must do.
#include "timing.h"
#include "variants.h"

#include "app/counter_writer.h"
#include "history/journal_codec.h"
#include "naming/serial_name.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/posix_io.h"
#include "platform/trash_info.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace corvalin::bench {

namespace fs = std::filesystem;

namespace {

// A folder's entries, sorted by the kind its listing gives; asked of the disk only where the
// listing gives none.
struct Listing {
    std::vector<std::string> pictures;
    std::vector<std::string> others;
    std::vector<std::string> folders;
};

bool listHeld(int folder, Listing& listing) {
    const int listed = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (!dir) {
        if (listed >= 0)
            ::close(listed);
        return false;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        unsigned char type = entry->d_type;
        struct stat st {};
        if (type == DT_UNKNOWN && ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        (type == DT_DIR                      ? listing.folders
         : type == DT_REG && isPicture(name) ? listing.pictures
                                             : listing.others)
            .push_back(name);
    }
    ::closedir(dir);
    return true;
}

int openFolder(int parent, const std::string& name) {
    return ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

class SafeFloor {
public:
    SafeFloor(const fs::path& work, bool journalling)
        : m_counter(SettingsFiles{work / "prog", work / "prog"}), m_journalling(journalling), m_work(work) {}

    // The held folders, the trash's two and the journal's start; inside the clock, as a run opens them.
    bool open(const fs::path& trash) {
        m_destination = UniqueFd(openFolder(AT_FDCWD, (m_work / "dst").native()));
        m_info = UniqueFd(openFolder(AT_FDCWD, (trash / "info").native()));
        m_files = UniqueFd(openFolder(AT_FDCWD, (trash / "files").native()));
        if (!m_destination.valid() || !m_info.valid() || !m_files.valid())
            return false;
        if (!m_journalling)
            return true;
        m_history = UniqueFd(openFolder(AT_FDCWD, (m_work / "prog").native()));
        m_journal = UniqueFd(
            ::openat(m_history.get(), "floor-journal", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        return m_journal.valid() && record("start\t" + encodeField(m_work.native())) &&
               ::fsync(m_journal.get()) == 0 && ::fsync(m_history.get()) == 0;
    }

    // Looked up without following a link, recorded, counted and renamed without replacing.
    bool movePicture(int folder, const fs::path& path, const std::string& name) {
        struct stat st {};
        if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            return false;
        const std::string target = serialName(m_serialNo, name);
        if (!record("move\t" + encodeField(joinPath(path, name).native()) + "\t" + encodeField(target) +
                    "\t" + std::to_string(st.st_ino)))
            return false;
        if (!m_counter.write(m_serialNo))
            return false;
        ++m_serialNo;
        return ::renameat2(folder, name.c_str(), m_destination.get(), target.c_str(), RENAME_NOREPLACE) == 0;
    }

    // An info file made where no other is and written, the step recorded, then the rename.
    bool toTrash(int folder, const fs::path& path, const std::string& name) {
        const std::string trashed = "item" + std::to_string(m_trashed++);
        const std::string infoName = trashed + ".trashinfo";
        const std::string original = joinPath(path, name).native();
        UniqueFd info(::openat(m_info.get(), infoName.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!info.valid() || writeAll(info.get(), trashInfoText(original, std::time(nullptr))) ||
            info.close() != 0)
            return false;
        if (!record("trash\t" + encodeField(original) + "\t" + encodeField(trashed)))
            return false;
        return ::renameat2(folder, name.c_str(), m_files.get(), trashed.c_str(), RENAME_NOREPLACE) == 0;
    }

    // The info files on the disk once, as a run's batch puts them, and the journal's end.
    bool finish() {
        if (!m_journalling)
            return true;
        return ::syncfs(m_info.get()) == 0 && record("end") && ::fsync(m_journal.get()) == 0;
    }

private:
    bool record(const std::string& line) {
        return !m_journalling || writeAll(m_journal.get(), line + "\n") == 0;
    }

    CounterWriter m_counter;
    bool m_journalling;
    fs::path m_work;
    UniqueFd m_destination, m_info, m_files, m_history, m_journal;
    std::int32_t m_serialNo = 0;
    long m_trashed = 0;
};

// The folder's pictures moved and its other files trashed, then its child folders the same way,
// each named in `emptied` before its own, for the end.
bool gatherTree(SafeFloor& floor, int parent, const fs::path& path, bool top,
                std::vector<fs::path>& emptied) {
    UniqueFd held(openFolder(parent, top ? path.native() : path.filename().native()));
    Listing listing;
    if (!held.valid() || !listHeld(held.get(), listing))
        return false;
    for (const std::string& name : top ? std::vector<std::string>{} : listing.pictures) {
        if (!floor.movePicture(held.get(), path, name))
            return false;
    }
    for (const std::string& name : top ? std::vector<std::string>{} : listing.others) {
        if (!floor.toTrash(held.get(), path, name))
            return false;
    }
    for (const std::string& name : listing.folders) {
        // Its own copy: `emptied` grows in the calls below.
        const fs::path child = joinPath(path, name);
        emptied.push_back(child);
        if (!gatherTree(floor, held.get(), child, false, emptied))
            return false;
    }
    return true;
}

} // namespace

int runSafeFloorVariant(const fs::path& work, bool journalling) {
    // The bench sets the data folder to its work folder's; the Trash is there, as the run's is.
    const char* data = std::getenv("XDG_DATA_HOME");
    if (!data)
        return 64;
    const fs::path trash = fs::path(data) / "Trash";
    fs::create_directories(trash / "info");
    fs::create_directories(trash / "files");
    SafeFloor floor(work, journalling);
    std::vector<fs::path> emptied;
    // Unlike (d) and (e), the tree is listed within the time: a run cannot know it beforehand.
    const Timing timing;
    if (!floor.open(trash) || !gatherTree(floor, AT_FDCWD, work / "src", true, emptied))
        return 3;
    // The emptied folders, deepest first, each from its parent held.
    for (auto folder = emptied.rbegin(); folder != emptied.rend(); ++folder) {
        UniqueFd parent(openFolder(AT_FDCWD, folder->parent_path().native()));
        if (!parent.valid() || !floor.toTrash(parent.get(), folder->parent_path(), folder->filename()))
            return 3;
    }
    if (!floor.finish())
        return 3;
    timing.print();
    return 0;
}

} // namespace corvalin::bench
