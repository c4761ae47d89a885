#include "plan/move_plan.h"

#include "app/error_text.h"
#include "engine/download_markers.h"
#include "engine/file_layer.h"
#include "engine/files_left.h"
#include "plan/plan_scan.h"
#include "platform/absent_name.h"
#include "platform/file_ops.h"
#include "platform/folder_limits.h"
#include "platform/name_text.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

std::uint64_t sizeOf(const fs::path& file) {
    struct stat info {};
    return ::lstat(file.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

// The layer that changes nothing: it answers as the disk would (a name taken, a name too long, a
// folder that cannot be entered or changed, a destination too full for the copies) and writes down
// what the run would do.
class PlanRecorder : public FileLayer {
public:
    PlanRecorder(MovePlan& plan, Removal removal) : m_plan(plan), m_removal(std::move(removal)) {}

    Status checkRemovalUsable(const fs::path& source) override { return m_removal.checkUsable(source); }
    // Finished for real, as a run's start does, so that the plan counts what the disk holds.
    Status prepareDestination(const fs::path& destination) override {
        struct stat info {};
        m_destinationDevice =
            ::stat(destination.c_str(), &info) == 0 ? std::optional(info.st_dev) : std::nullopt;
        m_room = roomIn(destination);
        m_bytesToCopy = 0;
        return recoverInterruptedMoves(destination);
    }
    Status writeCounter(std::int32_t) override { return {}; }
    Status enterFolder(const fs::path& folder) override {
        if (::access(folder.c_str(), X_OK) != 0)
            return errorFromErrno("作業フォルダの変更", folder, errno);
        // A picture leaves its folder only where the folder may be changed.
        m_folderRefusal = folderWriteRefusal(folder);
        return {};
    }
    Status makeWritable(const fs::path&) override { return {}; }
    Status movePicture(std::int32_t serialNo, const fs::path& from, const fs::path& to) override;
    Status removeFile(const fs::path& file) override {
        const std::uint64_t bytes = sizeOf(file);
        m_plan.removals.push_back({file.native(), bytes});
        m_plan.removalBytes += bytes;
        return {};
    }
    Status removeDuplicate(const fs::path& file, const fs::path& twin) override {
        const std::uint64_t bytes = sizeOf(file);
        m_plan.duplicates.push_back({file.native(), twin.native(), bytes});
        m_plan.duplicateBytes += bytes;
        return {};
    }
    Result<bool> removeFolder(const fs::path& folder) override;
    Status keepPace() override { return {}; }
    Status settle() override { return {}; }

private:
    Status checkRoom(const fs::path& from, std::uint64_t bytes);
    bool copied(const fs::path& from) const;

    MovePlan& m_plan;
    Removal m_removal;
    std::unordered_set<std::string> m_taken; // new paths the plan has handed out
    int m_folderRefusal = 0;                 // of the folder the run is in
    std::optional<dev_t> m_destinationDevice;
    std::optional<std::uint64_t> m_room;
    std::uint64_t m_bytesToCopy = 0; // by the copies to another file system so far
};

Status PlanRecorder::movePicture(std::int32_t serialNo, const fs::path& from, const fs::path& to) {
    if (m_folderRefusal != 0)
        return errorFromErrno(kMoveText, from, m_folderRefusal);
    // A copy reads the picture, a rename does not: the run stops at one it may not read.
    if (copied(from) && ::access(from.c_str(), R_OK) != 0)
        return errorFromErrno(kMoveText, from, errno);
    if (to.filename().native().size() > NAME_MAX)
        return errorFromErrno(kMoveText, from, ENAMETOOLONG);
    // A disk answers a name it cannot hold with EILSEQ or EINVAL: free, as ENOENT is. Any other
    // failure stops the run at the same picture.
    const bool handedOut = m_taken.contains(to.native());
    struct stat existing {};
    const int lookup = handedOut || ::lstat(to.c_str(), &existing) == 0 ? 0 : errno;
    if (lookup != 0 && !lookupMeansAbsent(lookup))
        return errorFromErrno(kMoveText, from, lookup);
    if (lookup == 0) {
        if (!handedOut)
            m_plan.problems.push_back({ProblemKind::NameTaken, to.native(),
                                       "移動先にすでにある名前です。この画像は次の番号になります。"});
        return errorFromErrno(kMoveText, from, EEXIST);
    }
    const std::uint64_t bytes = sizeOf(from);
    if (Status room = checkRoom(from, bytes); !room)
        return room;
    m_taken.insert(to.native());
    m_plan.pictures.push_back({from.native(), to.filename().native(), serialNo, bytes});
    m_plan.pictureBytes += bytes;
    return {};
}

// True when the picture reaches the destination as a copy: it lies on another file system.
bool PlanRecorder::copied(const fs::path& from) const {
    struct stat info {};
    return m_destinationDevice && ::lstat(from.c_str(), &info) == 0 && info.st_dev != *m_destinationDevice;
}

// A rename within the file system takes no room; a copy to another one takes its bytes, rounded up
// to whole blocks, and the copies of a run add up.
Status PlanRecorder::checkRoom(const fs::path& from, std::uint64_t bytes) {
    if (!m_room || !copied(from))
        return {};
    constexpr std::uint64_t kBlock = 4096;
    m_bytesToCopy += (bytes + kBlock - 1) / kBlock * kBlock;
    if (m_bytesToCopy > *m_room)
        return errorFromErrno(kMoveText, from, ENOSPC);
    return {};
}

// Kept for a download as the removal keeps it, refused as it refuses it: a link, or a folder with
// another file system inside.
Result<bool> PlanRecorder::removeFolder(const fs::path& folder) {
    const Result<bool> holdsDownload = holdsDownloadMarker(folder);
    if (!holdsDownload)
        return holdsDownload.error();
    if (holdsDownload.value())
        return false;
    if (lookupEntry(folder) != EntryKind::Folder)
        return errorFromErrno("フォルダの削除", folder, ENOTDIR);
    const FolderRemainder remainder = scanRemainder(folder);
    if (!remainder.mountBelow.empty())
        return errorFromErrno("フォルダの削除", remainder.mountBelow, EXDEV);
    m_plan.folders.push_back({folder.native(), remainder.items, remainder.bytes});
    m_plan.removalBytes += remainder.bytes;
    return true;
}

// The run's questions answered for a plan: one destination, and a cancel that also ends the
// survey. Events are let through at a pace that keeps a window smooth without slowing the plan.
class PlanObserver : public MoveRunObserver {
public:
    PlanObserver(fs::path destination, const PlanProgress& progress)
        : m_destination(std::move(destination)), m_progress(progress) {}

    void yield() override {
        if (++m_calls % 16 != 0)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now - m_lastYield < std::chrono::milliseconds(20))
            return;
        m_lastYield = now;
        m_progress.yield(m_folders, m_files);
    }
    void surveyCountsShown(int, int folderCount, long totalFiles) override {
        m_folders = folderCount;
        m_files = totalFiles;
    }
    void surveyStarted() override { yield(); }
    bool stopRequested() override { return m_progress.cancelled(); }
    bool cancelRequested() override { return m_progress.cancelled(); }
    fs::path destination() override { return m_destination; }

private:
    fs::path m_destination;
    const PlanProgress& m_progress;
    unsigned m_calls = 0;
    int m_folders = 0;
    long m_files = 0;
    std::chrono::steady_clock::time_point m_lastYield = std::chrono::steady_clock::now();
};

// Nothing when either folder cannot be looked at (a source that does not exist is no other disk).
std::optional<bool> acrossFileSystems(const fs::path& first, const fs::path& second) {
    struct stat one {};
    struct stat other {};
    if (::stat(first.c_str(), &one) != 0 || ::stat(second.c_str(), &other) != 0)
        return std::nullopt;
    return one.st_dev != other.st_dev;
}

// What the run leaves where it is, as problems: downloads still arriving and names too long, and
// the folders kept for them.
void addFilesLeft(MovePlan& plan, MoveRunResult& result) {
    plan.downloadsLeft = std::move(result.downloadsLeft);
    plan.foldersKeptForDownloads = std::move(result.foldersKeptForDownloads);
    plan.namesTooLong = std::move(result.namesTooLong);
    for (const fs::path& file : plan.downloadsLeft)
        plan.problems.push_back({ProblemKind::DownloadArriving, file.native(), kDownloadFileLeftText});
    for (const fs::path& folder : plan.foldersKeptForDownloads)
        plan.problems.push_back({ProblemKind::DownloadArriving, folder.native(), kDownloadFolderKeptText});
    const std::string tooLong =
        std::string(kLongNameFileLeftText) + "。" + longNameReasonText(result.longestName);
    for (const fs::path& file : plan.namesTooLong)
        plan.problems.push_back({ProblemKind::NameTooLong, file.native(), tooLong});
    for (const fs::path& folder : result.foldersKeptForLongNames)
        plan.problems.push_back({ProblemKind::NameTooLong, folder.native(), kLongNameFolderKeptText});
}

// A hidden picture is never moved: it goes with its child folder when the delete option removes
// that, and stays there otherwise.
void describeHiddenPictures(MovePlan& plan) {
    std::unordered_set<std::string> removed;
    for (const PlanFolder& folder : plan.folders)
        removed.insert(folder.path);
    for (PlanProblem& problem : plan.problems) {
        if (problem.kind != ProblemKind::HiddenPicture)
            continue;
        const fs::path below = fs::path(problem.path).lexically_relative(plan.source);
        const fs::path child = plan.source / *below.begin();
        problem.text = "隠しファイルのため移動しません。";
        if (removed.contains(child.native()))
            problem.text += "子フォルダ「" + legibleName(child.filename().native()) + "」と一緒に" +
                            (plan.permanent ? "完全に削除されます。" : "ごみ箱に入ります。");
        else
            problem.text += "フォルダに残ります。";
    }
}

} // namespace

MovePlan makeMovePlan(const Module1& vars, const SettingsFiles& files, const PlanRequest& request,
                      const PlanProgress& progress) {
    MovePlan plan;
    plan.source = request.source;
    plan.destination = request.destination;
    plan.deleteFolders = request.deleteFolders;
    plan.permanent = request.permanent;
    plan.skipDuplicates = request.skipDuplicates;
    plan.pictureTypes = request.pictureTypes;
    Module1 planVars = vars; // the counter moves in the copy only
    const Removal removal(request.permanent);
    PlanRecorder recorder(plan, removal);
    PlanObserver observer(request.destination, progress);
    MoveRun run(planVars, files, observer, removal);
    run.setPictureTypes(request.pictureTypes);
    run.setSkipDuplicates(request.skipDuplicates);
    run.setFileLayer(recorder);
    std::vector<fs::path> folderList;
    MoveRunResult result = run.run(request.source, request.deleteFolders, folderList);
    if (result.outcome == MoveOutcome::Cancelled) {
        MovePlan cancelled;
        cancelled.outcome = MoveOutcome::Cancelled;
        cancelled.source = request.source;
        cancelled.destination = request.destination;
        return cancelled;
    }
    plan.outcome = result.outcome;
    plan.numbersSkipped = result.numbersSkipped;
    plan.childFolders = folderList.size();
    plan.acrossFileSystems = acrossFileSystems(request.source, request.destination);
    addFilesLeft(plan, result);
    if (result.error) {
        plan.error = result.error;
        plan.problems.insert(plan.problems.begin(), {ProblemKind::RunStops, result.error->path.native(),
                                                     describeErrorLine(*result.error)});
    }
    // Refused sources are never read further (the home folder, the root folder).
    if (!folderList.empty() || !result.error) {
        folderList.insert(folderList.begin(), request.source);
        findLeftOut(folderList, request.pictureTypes, plan.problems);
        describeHiddenPictures(plan);
    }
    // The folder the run stops at is named once, as the reason it stops.
    if (result.error)
        std::erase_if(plan.problems, [&](const PlanProblem& problem) {
            return problem.kind == ProblemKind::Unreadable && problem.path == result.error->path.native();
        });
    return plan;
}

} // namespace corvalin
