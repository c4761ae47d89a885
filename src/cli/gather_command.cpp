#include "cli/gather_command.h"

#include "app/error_text.h"
#include "app/extra_options.h"
#include "app/program_files.h"
#include "cli/command.h"
#include "cli/follow_thumbnails.h"
#include "cli/gather_observer.h"
#include "cli/gather_plan.h"
#include "engine/download_markers.h"
#include "engine/files_left.h"
#include "plan/plan_text.h"
#include "platform/name_text.h"

#include <QCommandLineParser>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

const QString kDeleteFolders = QStringLiteral("delete-folders");
const QString kPlan = QStringLiteral("plan");
const QString kSkipDuplicates = QStringLiteral("skip-duplicates");
const QString kNoSkipDuplicates = QStringLiteral("no-skip-duplicates");
const QString kDeleteUnchosen = QStringLiteral("delete-unchosen-pictures");

// Start-up as the window has it: the unclean-exit rule, RunFlag 1 written for the run. A command
// has no designed window state to fall back on, so any stop ends it.
int startUp(Module1& vars, const SettingsFiles& files, Terminal& terminal, int& uncleanEnd) {
    const StartupResult started = runStartup(vars, files);
    uncleanEnd = tellUncleanEnd(started.uncleanEnd, terminal);
    if (started.outcome == StartupOutcome::Completed)
        return kExitDone;
    // A file that cannot be rewritten or removed is the first thing to mend.
    const std::optional<Error>& error = started.writeError ? started.writeError : started.readError;
    if (error)
        terminal.message(describeErrorLine(*error));
    return kExitFailed;
}

struct GatherRequest {
    fs::path source;
    fs::path destination;
    bool deleteFolders = false;
    std::optional<bool> skipDuplicates;  // for this command only; else as Corvalin.conf says
    bool deleteUnchosenPictures = false; // for good, when the run deletes for good
};

bool leftFiles(const MoveRunResult& result) {
    return !result.downloadsLeft.empty() || !result.foldersKeptForDownloads.empty() ||
           !result.namesTooLong.empty() || !result.namesRefusedByDisk.empty() ||
           !result.specialFiles.empty() || !result.changedFolders.empty();
}

void reportEach(const char* heading, const std::vector<fs::path>& paths, Terminal& terminal) {
    for (const fs::path& path : paths)
        terminal.message(std::string(heading) + ": " + legibleName(path.native()));
}

// Downloads still arriving, names too long, special files named like pictures and folders no longer
// the ones surveyed, every one by name, and what to do: what the window's end message tells of them.
void reportFilesLeft(const MoveRunResult& result, Terminal& terminal) {
    reportEach(kDownloadFileLeftText, result.downloadsLeft, terminal);
    reportEach(kDownloadFolderKeptText, result.foldersKeptForDownloads, terminal);
    if (!result.downloadsLeft.empty() || !result.foldersKeptForDownloads.empty())
        terminal.message(kDownloadsLeftAdvice);
    reportEach(kLongNameFileLeftText, result.namesTooLong, terminal);
    reportEach(kLongNameFolderKeptText, result.foldersKeptForLongNames, terminal);
    if (!result.namesTooLong.empty())
        terminal.message(longNameReasonText(result.longestName));
    for (const NameLeft& left : result.namesRefusedByDisk)
        terminal.message(std::string(kDiskRefusedFileLeftText) + ": " + legibleName(left.file.native()) +
                         "（" + left.reason + "）");
    reportEach(kSpecialFileLeftText, result.specialFiles, terminal);
    for (const ChangedFolder& folder : result.changedFolders)
        terminal.message(std::string(kChangedFolderLeftText) + ": " + legibleName(folder.path.native()) +
                         "（" + changedFolderText(folder.change) + "）");
}

// The run and what follows it, after the start-up. The one place where a command chooses how the
// move run is made; the window's choices (MoveController with Form1's options) and these must stay
// alike.
int gather(Module1& vars, const SettingsFiles& files, const GatherRequest& request,
           const ExtraOptions& options, CommandContext& context) {
    const Removal removal(options.permanentDeletion);
    const bool skipDuplicates = request.skipDuplicates.value_or(options.skipDuplicates);
    std::optional<RunJournal> journal = openCommandJournal(
        files.history(),
        moveRunStart(vars.SerialNo, request.source, request.destination, request.deleteFolders, removal),
        context.terminal);
    if (!journal) {
        (void)writeShutdownFiles(vars, files);
        return kExitFailed;
    }
    GatherObserver observer(request.destination, context);
    observer.setPictureTypes(options.pictureTypes);
    observer.allowDeletingUnchosen(request.deleteUnchosenPictures);
    std::vector<fs::path> folderList;
    MoveRun moveRun(vars, files, observer, removal);
    moveRun.setJournal(&*journal);
    moveRun.setPictureTypes(options.pictureTypes);
    moveRun.setSkipDuplicates(skipDuplicates);
    const MoveRunResult result = moveRun.run(request.source, request.deleteFolders, folderList);
    GatherCounts counts = observer.finish();
    counts.childFolders = result.foldersRemoved;
    counts.numbersSkipped = result.numbersSkipped;
    const fs::path journalFile = journal->file();
    const Status recorded = journal->finish(journalOutcome(result.outcome));
    // RunFlag 0 and the counter, as the window's shutdown writes them, before anything is said.
    const Status saved = writeShutdownFiles(vars, files);
    if (result.error)
        context.terminal.message(describeErrorLine(*result.error));
    // A journal that could not be written stopped the run with that same failure: said once.
    if (!recorded && recorded.error() != result.error)
        context.terminal.message(describeErrorLine(recorded.error()));
    if (!saved)
        context.terminal.message(describeErrorLine(saved.error()));
    if (leftFiles(result))
        reportFilesLeft(result, context.terminal);
    const bool refused = !observer.refusedUnchosen().empty();
    if (refused)
        context.terminal.message(unchosenPicturesRefusal(mostFirst(observer.refusedUnchosen()), false));
    context.terminal.result(
        gatherSummary(result.outcome, counts, {request.deleteFolders, removal.permanent()}));
    followThumbnailsAfter(journalFile, JournalPass::Run, context);
    if (result.outcome == MoveOutcome::Failed || refused || !recorded || !saved)
        return kExitFailed;
    return leftFiles(result) ? kExitFilesLeft : kExitDone;
}

// The plan printed instead of the run; the start-up's RunFlag is written back as after a run.
int planOnly(Module1& vars, const SettingsFiles& files, const GatherRequest& request,
             const ExtraOptions& options, CommandContext& context) {
    const PlanRequest plan{request.source,        request.destination,
                           request.deleteFolders, options.permanentDeletion,
                           options.pictureTypes,  request.skipDuplicates.value_or(options.skipDuplicates)};
    const int status = printGatherPlan(vars, files, plan, request.deleteUnchosenPictures, context.terminal);
    if (const Status saved = writeShutdownFiles(vars, files); !saved) {
        context.terminal.message(describeErrorLine(saved.error()));
        return kExitFailed;
    }
    return status;
}

} // namespace

void declareGather(QCommandLineParser& parser) {
    parser.addOption(QCommandLineOption(
        kPlan, QStringLiteral("Print what the run would do to each file, and do nothing.")));
    parser.addOption(
        QCommandLineOption(kDeleteFolders, QStringLiteral("Afterwards, remove the child folders of "
                                                          "SOURCE with whatever they still hold.")));
    parser.addOption(QCommandLineOption(
        kSkipDuplicates,
        QStringLiteral("Remove a picture instead of moving it when DEST already holds one with "
                       "the same bytes (as the saved option does when it is on).")));
    parser.addOption(QCommandLineOption(
        kNoSkipDuplicates, QStringLiteral("Move every picture, whatever the saved option says.")));
    parser.addOption(QCommandLineOption(
        kDeleteUnchosen,
        QStringLiteral("Where the saved options delete for good, also delete files named as pictures of "
                       "a type not chosen (.png while PNG is not chosen, .jpg_large, ...); without it "
                       "such a run does nothing and ends with status 1.")));
    parser.addPositionalArgument(
        QStringLiteral("SOURCE"),
        QStringLiteral("The parent folder of the download folders (default: the saved "
                       "one)."));
    parser.addPositionalArgument(
        QStringLiteral("DEST"),
        QStringLiteral("The folder that receives the pictures (default: the saved one)."));
}

int runGather(const QCommandLineParser& parser, CommandContext& context) {
    const QStringList folders = parser.positionalArguments();
    if (folders.size() != 0 && folders.size() != 2)
        return commandUsageError(context.terminal, "gather", "give both SOURCE and DEST, or neither");
    // Made absolute, an empty name would mean the working folder.
    if (folders.contains(QString()))
        return commandUsageError(context.terminal, "gather", "SOURCE and DEST must not be empty");
    if (parser.isSet(kSkipDuplicates) && parser.isSet(kNoSkipDuplicates))
        return commandUsageError(context.terminal, "gather",
                                 "give --skip-duplicates or --no-skip-duplicates, not both");
    const SettingsFiles files = settingsFilesOfThisProgram();
    int status = kExitDone;
    const auto lock = lockForCommand(files.settingsFolder, context.terminal, status);
    if (!lock)
        return status;
    // How the run removes and what it takes for pictures, as the window's 「詳細」 tab chose them.
    const std::optional<ExtraOptions> options = optionsForCommand(files, context.terminal);
    if (!options)
        return kExitFailed;
    Module1 vars;
    int uncleanEnd = kExitDone;
    status = startUp(vars, files, context.terminal, uncleanEnd);
    if (status != kExitDone)
        return status;
    // The saved folders are read, never replaced: the shutdown writes back what the start-up read.
    const fs::path source = folders.empty() ? vars.SourcePath : argumentPath(folders[0]);
    const fs::path destination = folders.empty() ? vars.DestPath : argumentPath(folders[1]);
    GatherRequest request{source, destination, parser.isSet(kDeleteFolders), std::nullopt,
                          parser.isSet(kDeleteUnchosen)};
    if (parser.isSet(kSkipDuplicates) || parser.isSet(kNoSkipDuplicates))
        request.skipDuplicates = parser.isSet(kSkipDuplicates);
    status = parser.isSet(kPlan) ? planOnly(vars, files, request, *options, context)
                                 : gather(vars, files, request, *options, context);
    return statusAfterUncleanEnd(status, uncleanEnd);
}

} // namespace corvalin
