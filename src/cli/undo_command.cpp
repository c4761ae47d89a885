#include "cli/undo_command.h"

#include "app/error_text.h"
#include "app/program_files.h"
#include "app/startup.h"
#include "cli/command.h"
#include "cli/follow_thumbnails.h"
#include "cli/run_pace.h"
#include "history/history_texts.h"
#include "platform/name_text.h"

#include <QCommandLineParser>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

class UndoProgress : public UndoObserver {
public:
    explicit UndoProgress(CommandContext& context) : m_context(context) {}

    void yield() override {}
    bool cancelRequested() override { return false; }
    bool stopRequested() override { return m_context.stop.requested(); }
    void progress(int done, int total) override {
        m_context.terminal.progress("元に戻しています " + std::to_string(done) + "/" + std::to_string(total) +
                                    "  " + m_pace.text(done, "個", done, total));
    }

private:
    CommandContext& m_context;
    RunPace m_pace;
};

// The run RUN names, or the newest; nothing, with `status` set and the message written, when there
// is none.
const RunSummary* chosenRun(const std::vector<RunSummary>& runs, const QStringList& arguments,
                            const fs::path& historyFolder, CommandContext& context, int& status) {
    if (arguments.isEmpty()) {
        if (!runs.empty())
            return &runs.front();
        context.terminal.message("元に戻せる実行がありません: " + legibleName(historyFolder.native()));
        status = kExitFailed;
        return nullptr;
    }
    for (const RunSummary& run : runs) {
        if (QString::fromStdString(run.id) == arguments.first())
            return &run;
    }
    status = commandUsageError(context.terminal, "undo",
                               "'" + argumentText(arguments.first()) +
                                   "' is no run; 'corvalin history' lists them");
    return nullptr;
}

// What the window's end message says, with every item left named on standard error.
int reportUndo(const RunSummary& run, const UndoOutcome& outcome, Terminal& terminal) {
    if (outcome.error)
        terminal.message(describeErrorLine(*outcome.error));
    for (const UndoLeftItem& item : outcome.left)
        terminal.message(std::string(undoLeftReasonText(item.reason)) + ": " + leftItemText(item));
    terminal.resultLines(
        undoSummary(outcome, "もう一度 corvalin undo " + run.id + " を実行すると続きを戻します。"));
    if (run.kind == RunKind::Move && outcome.cameBack > 0)
        terminal.result(kSerialNumbersKeptText);
    if (outcome.error)
        return kExitFailed;
    // A journal that does not read to its end leaves undone what it recorded after that.
    return outcome.left.empty() && !outcome.journalEndsAfterLine ? kExitDone : kExitFilesLeft;
}

// The run RUN names, or the newest, undone and told.
int undoChosenRun(const QStringList& arguments, const SettingsFiles& files, CommandContext& context) {
    int status = kExitDone;
    const Result<std::vector<RunSummary>> runs = listRuns(files.history());
    if (!runs) {
        context.terminal.message(describeErrorLine(runs.error()));
        return kExitFailed;
    }
    const RunSummary* run = chosenRun(runs.value(), arguments, files.history(), context, status);
    if (!run)
        return status;
    if (run->damage) {
        context.terminal.message(describeErrorLine(*run->damage));
        return kExitFailed;
    }
    if (run->state == RunState::Undone)
        context.terminal.result(kAlreadyUndoneText);
    UndoProgress progress(context);
    const int undone = reportUndo(*run, undoRun(run->file, progress), context.terminal);
    followThumbnailsAfter(run->file, JournalPass::Undo, context);
    return undone;
}

} // namespace

void declareUndo(QCommandLineParser& parser) {
    parser.addPositionalArgument(QStringLiteral("RUN"),
                                 QStringLiteral("The run to undo, by the id 'corvalin history' prints "
                                                "(default: the newest)."),
                                 QStringLiteral("[RUN]"));
}

int runUndo(const QCommandLineParser& parser, CommandContext& context) {
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() > 1)
        return commandUsageError(context.terminal, "undo", "give at most one RUN");
    const SettingsFiles files = settingsFilesOfThisProgram();
    int status = kExitDone;
    const auto lock = lockForCommand(files.settingsFolder, context.terminal, status);
    if (!lock)
        return status;
    // An undo uses none of them, but the user's settings that cannot be read stop every run alike.
    if (!optionsForCommand(files, context.terminal))
        return kExitFailed;
    const int uncleanEnd = tellUncleanEnd(recoverAfterUncleanEnd(files), context.terminal);
    return statusAfterUncleanEnd(undoChosenRun(arguments, files, context), uncleanEnd);
}

} // namespace corvalin
