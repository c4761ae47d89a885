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
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

std::uint64_t sizeOf(const HeldFolder& folder, const std::string& name) {
    const Result<HeldEntry> entry = folder.lookup(name);
    return entry ? entry.value().identity.size : 0;
}

// The layer that changes nothing: it answers as the disk would (a name taken, a name too long, a
// folder that cannot be entered or changed, a destination too full for the copies) and writes down
// what the run would do.
class PlanRecorder : public FileLayer {
public:
    PlanRecorder(MovePlan& plan, Removal removal) : m_plan(plan), m_removal(std::move(removal)) {}

    Status checkRemovalUsable(const fs::path& source) override { return m_removal.checkUsable(source); }
    // Finished for real, as a run's start does, so that the plan counts what the disk holds.
    Status prepareDestination(const HeldFolder& destination) override {
        m_destinationDevice = destination.id().device;
        m_room = roomIn(destination.path());
        m_bytesToCopy = 0;
        return recoverInterruptedMoves(destination);
    }
    Status writeCounter(std::int32_t) override { return {}; }
    Status enterFolder(const HeldFolder& folder) override {
        if (::faccessat(folder.fd(), ".", X_OK, 0) != 0)
            return errorFromErrno("作業フォルダの変更", folder.path(), errno);
        // A picture leaves its folder only where the folder may be changed.
        m_folderRefusal = folderWriteRefusal(folder.fd());
        return {};
    }
    Status movePicture(std::int32_t serialNo, const HeldFolder& from, const std::string& name,
                       const HeldEntry& picture, const HeldFolder& to, const std::string& newName) override;
    Status removeFile(const HeldFolder& folder, const std::string& name) override {
        const std::uint64_t bytes = sizeOf(folder, name);
        m_plan.removals.push_back({folder.pathOf(name).native(), bytes});
        m_plan.removalBytes += bytes;
        return {};
    }
    Status removeDuplicate(const HeldFolder& folder, const std::string& name, const fs::path& twin) override {
        const std::uint64_t bytes = sizeOf(folder, name);
        m_plan.duplicates.push_back({folder.pathOf(name).native(), twin.native(), bytes});
        m_plan.duplicateBytes += bytes;
        return {};
    }
    Result<bool> removeFolder(const HeldFolder& parent, const std::string& name,
                              const FolderId& expected) override;
    Status keepPace() override { return {}; }
    Status settle() override { return {}; }

    // The device of the destination the run met, as it held it.
    std::optional<std::uint64_t> destinationDevice() const { return m_destinationDevice; }

private:
    Status checkRoom(const fs::path& from, std::uint64_t bytes);

    MovePlan& m_plan;
    Removal m_removal;
    std::unordered_set<std::string> m_taken; // new paths the plan has handed out
    int m_folderRefusal = 0;                 // of the folder the run is in
    std::optional<std::uint64_t> m_destinationDevice;
    std::optional<std::uint64_t> m_room;
    std::uint64_t m_bytesToCopy = 0; // by the copies to another file system so far
};

Status PlanRecorder::movePicture(std::int32_t serialNo, const HeldFolder& from, const std::string& name,
                                 const HeldEntry& picture, const HeldFolder& to, const std::string& newName) {
    const fs::path source = from.pathOf(name);
    if (m_folderRefusal != 0)
        return errorFromErrno(kMoveText, source, m_folderRefusal);
    // A copy reads the picture, a rename does not: the run stops at one it may not read.
    const bool copied = m_destinationDevice && picture.identity.device != *m_destinationDevice;
    if (copied && ::faccessat(from.fd(), name.c_str(), R_OK, 0) != 0)
        return errorFromErrno(kMoveText, source, errno);
    const fs::path target = to.pathOf(newName);
    // A disk answers a name it cannot hold with EILSEQ or EINVAL: free, as ENOENT is. Any other
    // failure stops the run at the same picture.
    const bool handedOut = m_taken.contains(target.native());
    struct stat existing {};
    const int lookup =
        handedOut || ::fstatat(to.fd(), newName.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
    if (lookup != 0 && !lookupMeansAbsent(lookup))
        return errorFromErrno(kMoveText, source, lookup);
    if (lookup == 0) {
        if (!handedOut)
            m_plan.problems.push_back({ProblemKind::NameTaken, target.native(),
                                       "移動先にすでにある名前です。この画像は次の番号になります。"});
        return errorFromErrno(kMoveText, source, EEXIST);
    }
    const std::uint64_t bytes = picture.identity.size;
    if (copied) {
        if (Status room = checkRoom(source, bytes); !room)
            return room;
    }
    m_taken.insert(target.native());
    m_plan.pictures.push_back({source.native(), newName, serialNo, bytes});
    m_plan.pictureBytes += bytes;
    return {};
}

// A rename within the file system takes no room; a copy to another one takes its bytes, rounded up
// to whole blocks, and the copies of a run add up.
Status PlanRecorder::checkRoom(const fs::path& from, std::uint64_t bytes) {
    if (!m_room)
        return {};
    constexpr std::uint64_t kBlock = 4096;
    m_bytesToCopy += (bytes + kBlock - 1) / kBlock * kBlock;
    if (m_bytesToCopy > *m_room)
        return errorFromErrno(kMoveText, from, ENOSPC);
    return {};
}

// Kept for a download as the removal keeps it, refused as it refuses it: a link, another folder
// that took its name since the survey, or a folder with another file system inside.
Result<bool> PlanRecorder::removeFolder(const HeldFolder& parent, const std::string& name,
                                        const FolderId& expected) {
    const fs::path path = parent.pathOf(name);
    const Result<HeldFolder> folder = parent.child(name, expected);
    if (!folder)
        return errorFromErrno("フォルダの削除", path, folder.code() == ELOOP ? ENOTDIR : folder.code());
    const Result<FolderTree> tree = readFolderTree(folder.value());
    if (!tree)
        return tree.error();
    if (anyName(tree.value(), isDownloadMarker))
        return false;
    const FolderRemainder remainder = scanRemainder(folder.value());
    if (!remainder.mountBelow.empty())
        return errorFromErrno("フォルダの削除", remainder.mountBelow, EXDEV);
    m_plan.folders.push_back({path.native(), remainder.items, remainder.bytes});
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
    plan.namesRefusedByDisk = std::move(result.namesRefusedByDisk);
    for (const NameLeft& left : plan.namesRefusedByDisk)
        plan.problems.push_back({ProblemKind::NotHeldByDisk, left.file.native(),
                                 std::string(kDiskRefusedFileLeftText) + "。" + left.reason});
    for (const fs::path& folder : result.foldersKeptForLongNames)
        plan.problems.push_back({ProblemKind::NameTooLong, folder.native(), kLongNameFolderKeptText});
    for (const ChangedFolder& folder : result.changedFolders)
        plan.problems.push_back({ProblemKind::LeftOut, folder.path.native(),
                                 std::string("フォルダ構成を調べた後で") + changedFolderText(folder.change) +
                                     "。中のものには手を付けません。"});
}

// What the run leaves out, read through the folders it held. Refused sources are never read
// further (the home folder, the root folder), nor one whose survey never began. A folder found
// changed only now is named as one the run met changed.
std::vector<PlanProblem> leftOut(const MovePlan& plan, MoveRun& run, const std::vector<fs::path>& folderList,
                                 MoveRunResult& result) {
    std::vector<PlanProblem> problems;
    SurveyedFolders* folders = run.surveyedFolders();
    if (!run.heldSource() || !folders || (folderList.empty() && result.error))
        return problems;
    findLeftOut(*run.heldSource(), *folders, folderList.size(), plan.pictureTypes, problems);
    result.changedFolders = folders->changed();
    return problems;
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
    // As the run held them; nothing when it never held both.
    if (run.heldSource() && recorder.destinationDevice())
        plan.acrossFileSystems = run.heldSource()->id().device != *recorder.destinationDevice();
    plan.destinationDisk = result.destinationDisk;
    const std::vector<PlanProblem> notEntered = leftOut(plan, run, folderList, result);
    addFilesLeft(plan, result);
    plan.problems.insert(plan.problems.end(), notEntered.begin(), notEntered.end());
    if (result.error) {
        plan.error = result.error;
        plan.problems.insert(plan.problems.begin(), {ProblemKind::RunStops, result.error->path.native(),
                                                     describeErrorLine(*result.error)});
    }
    describeHiddenPictures(plan);
    // The folder the run stops at is named once, as the reason it stops.
    if (result.error)
        std::erase_if(plan.problems, [&](const PlanProblem& problem) {
            return problem.kind == ProblemKind::Unreadable && problem.path == result.error->path.native();
        });
    return plan;
}

} // namespace corvalin
