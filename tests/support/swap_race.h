#pragma once

#include "disk_helpers.h"
#include "platform/file_ops.h"
#include "platform/held_folder.h"
#include "platform/paths.h"

#include <QByteArrayList>
#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

#ifndef RENAME_EXCHANGE
#define RENAME_EXCHANGE (1 << 1)
#endif

// Another program keeps swapping a subfolder of a tree with a symbolic link to a canary folder
// outside it, atomically, while the tree is deleted again and again: whatever the deletion meets,
// the canary must never lose anything.
namespace corvalin::test {

// A folder named by its path removed as a run removes one: its parent held, the folder itself by
// its name there and the identity it has now.
inline Status removeTreeAt(const std::filesystem::path& folder, const FolderTree* listed = nullptr) {
    const std::filesystem::path plain = withoutTrailingSlash(folder);
    struct stat st {};
    if (::lstat(plain.c_str(), &st) != 0)
        return errorFromErrno("フォルダの削除", folder, errno);
    const Result<HeldFolder> parent = HeldFolder::open(plain.parent_path());
    if (!parent)
        return parent.error();
    return removeTree(parent.value(), ownName(plain), FolderId{st.st_dev, st.st_ino, 0}, listed);
}

struct SwapRaceTotals {
    long rounds = 0;
    long swapsDuringDeletion = 0; // rounds in which at least one swap fell inside the deletion
    long failedDeletions = 0;     // rounds in which the deletion stopped at what the swap left
};

class SwapRace {
public:
    // `swapped` is the subfolder's path below the tree's top folder, e.g. "sub" or "a/b/sub".
    SwapRace(const std::filesystem::path& root, const std::string& swapped)
        : m_root(root), m_top(root / "top"), m_swapped(m_top / swapped), m_link(root / "link") {
        makeEntries(
            root, {"d:canary", "f:canary/keep.jpg", "d:canary/inner", "f:canary/inner/deep.jpg", "d:trash"});
        ::chmod((root / "canary/inner").c_str(), 0500);
        m_swapper = std::thread([this] { swapUntilStopped(); });
    }
    ~SwapRace() {
        m_stop = true;
        setRacing(true);
        m_swapper.join();
    }
    SwapRace(const SwapRace&) = delete;
    SwapRace& operator=(const SwapRace&) = delete;

    // Builds the tree from `entries` (makeEntries specs below the top folder, the swapped
    // subfolder among them; `prepare` may change modes there) and deletes it once.
    Status runRound(const QByteArrayList& entries,
                    const std::function<void(const std::filesystem::path&)>& prepare = {}) {
        const std::filesystem::path stage = m_root / "stage";
        const std::string round = std::to_string(m_totals.rounds);
        // Whatever the swaps left behind goes to the trash; a fresh link takes its place.
        ::rename(m_link.c_str(), (m_root / "trash" / ("link" + round)).c_str());
        ::rename(m_top.c_str(), (m_root / "trash" / ("top" + round)).c_str());
        ::symlink((m_root / "canary").c_str(), m_link.c_str());
        // Built aside, so that no swap can turn the building itself towards the canary.
        ::mkdir(stage.c_str(), 0755);
        makeEntries(stage, entries);
        if (prepare)
            prepare(stage);
        ::rename(stage.c_str(), m_top.c_str());
        const long swapsBefore = m_swaps;
        setRacing(true);
        const Status removed = removeTreeAt(m_top);
        setRacing(false);
        ++m_totals.rounds;
        m_totals.swapsDuringDeletion += m_swaps != swapsBefore;
        m_totals.failedDeletions += !removed.ok();
        return removed;
    }

    // The canary's names, modes and bytes as they were made.
    bool canaryIntact() const {
        const std::filesystem::path canary = m_root / "canary";
        struct stat inner {};
        return allNames(canary) == QByteArrayList{"inner", "keep.jpg"} &&
               allNames(canary / "inner") == QByteArrayList{"deep.jpg"} &&
               ::lstat((canary / "inner").c_str(), &inner) == 0 && (inner.st_mode & 07777) == 0500 &&
               fileSize(canary / "keep.jpg") == 1 && fileSize(canary / "inner/deep.jpg") == 1;
    }

    // The trash grows by a tree a round; long runs empty it now and then. Nothing in it is
    // followed: a link there is removed as a link.
    void emptyTrash() {
        std::error_code ignored;
        std::filesystem::remove_all(m_root / "trash", ignored);
        ::mkdir((m_root / "trash").c_str(), 0755);
    }

    const SwapRaceTotals& totals() const { return m_totals; }

private:
    // The swapper only spins while a deletion runs, so that building the trees is not slowed.
    void setRacing(bool racing) {
        m_racing = racing;
        m_racing.notify_one();
    }
    void swapUntilStopped() {
        while (!m_stop) {
            m_racing.wait(false);
            if (::syscall(SYS_renameat2, AT_FDCWD, m_link.c_str(), AT_FDCWD, m_swapped.c_str(),
                          RENAME_EXCHANGE) == 0)
                ++m_swaps;
        }
    }

    static long fileSize(const std::filesystem::path& file) {
        struct stat st {};
        return ::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? long(st.st_size) : -1;
    }

    std::filesystem::path m_root, m_top, m_swapped, m_link;
    std::atomic<bool> m_stop = false;
    std::atomic<bool> m_racing = false;
    std::atomic<long> m_swaps = 0;
    SwapRaceTotals m_totals;
    std::thread m_swapper;
};

} // namespace corvalin::test
