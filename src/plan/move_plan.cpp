#include "plan/move_plan.h"

#include "app/error_text.h"
#include "engine/download_markers.h"
#include "engine/file_layer.h"
#include "plan/plan_scan.h"
#include "platform/file_ops.h"

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
// folder that cannot be entered) and writes down what the run would do.
class PlanRecorder : public FileLayer {
public:
    PlanRecorder(MovePlan& plan, Removal removal) : m_plan(plan), m_removal(std::move(removal)) {}

    Status checkRemovalUsable(const fs::path& source) override { return m_removal.checkUsable(source); }
    // Finished for real, as a run's start does, so that the plan counts what the disk holds.
    Status prepareDestination(const fs::path& destination) override {
        return recoverInterruptedMoves(destination);
    }
    Status writeCounter(std::int32_t) override { return {}; }
    Status enterFolder(const fs::path& folder) override {
        if (::access(folder.c_str(), X_OK) != 0)
            return errorFromErrno("作業フォルダの変更", folder, errno);
        return {};
    }
    Status makeWritable(const fs::path& file) override {
        if (::access(file.c_str(), R_OK) != 0)
            m_plan.problems.push_back(
                {ProblemKind::NoReadPermission, file.native(),
                 "読み取りの許可がありません。別のファイルシステムへは移動できません。"});
        return {};
    }
    Status movePicture(std::int32_t serialNo, const fs::path& from, const fs::path& to) override;
    Status removeFile(const fs::path& file) override {
        const std::uint64_t bytes = sizeOf(file);
        m_plan.removals.push_back({file.native(), bytes});
        m_plan.removalBytes += bytes;
        return {};
    }
    Result<bool> removeFolder(const fs::path& folder) override;
    Status folderDone() override { return {}; }

private:
    MovePlan& m_plan;
    Removal m_removal;
    std::unordered_set<std::string> m_taken; // new paths the plan has handed out
};

Status PlanRecorder::movePicture(std::int32_t serialNo, const fs::path& from, const fs::path& to) {
    if (to.filename().native().size() > NAME_MAX)
        return errorFromErrno("ファイルの移動", from, ENAMETOOLONG);
    if (m_taken.contains(to.native()) || lookupEntry(to) != EntryKind::None) {
        if (!m_taken.contains(to.native()))
            m_plan.problems.push_back({ProblemKind::NameTaken, to.native(),
                                       "移動先にすでにある名前です。この画像は次の番号になります。"});
        return errorFromErrno("ファイルの移動", from, EEXIST);
    }
    m_taken.insert(to.native());
    const std::uint64_t bytes = sizeOf(from);
    m_plan.pictures.push_back({from.native(), to.filename().native(), serialNo, bytes});
    m_plan.pictureBytes += bytes;
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

bool sameFileSystem(const fs::path& first, const fs::path& second) {
    struct stat one {};
    struct stat other {};
    return ::stat(first.c_str(), &one) == 0 && ::stat(second.c_str(), &other) == 0 &&
           one.st_dev == other.st_dev;
}

} // namespace

MovePlan makeMovePlan(const Module1& vars, const SettingsFiles& files, const PlanRequest& request,
                      const PlanProgress& progress) {
    MovePlan plan;
    plan.source = request.source;
    plan.destination = request.destination;
    plan.deleteFolders = request.deleteFolders;
    plan.permanent = request.permanent;
    Module1 planVars = vars; // the counter moves in the copy only
    const Removal removal(request.permanent);
    PlanRecorder recorder(plan, removal);
    PlanObserver observer(request.destination, progress);
    MoveRun run(planVars, files, observer, removal);
    run.setPictureTypes(request.pictureTypes);
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
    plan.childFolders = folderList.size();
    plan.acrossFileSystems = !sameFileSystem(request.source, request.destination);
    plan.downloadsLeft = std::move(result.downloadsLeft);
    plan.foldersKeptForDownloads = std::move(result.foldersKeptForDownloads);
    for (const fs::path& file : plan.downloadsLeft)
        plan.problems.push_back({ProblemKind::DownloadArriving, file.native(), kDownloadFileLeftText});
    for (const fs::path& folder : plan.foldersKeptForDownloads)
        plan.problems.push_back({ProblemKind::DownloadArriving, folder.native(), kDownloadFolderKeptText});
    if (result.error) {
        plan.error = result.error;
        plan.problems.insert(plan.problems.begin(), {ProblemKind::RunStops, result.error->path.native(),
                                                     describeErrorLine(*result.error)});
    }
    // Refused sources are never read further (the home folder, the root folder).
    if (!folderList.empty() || !result.error) {
        folderList.insert(folderList.begin(), request.source);
        findLeftOut(folderList, plan.problems);
    }
    return plan;
}

} // namespace corvalin
