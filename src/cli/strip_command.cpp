#include "cli/strip_command.h"

#include "app/error_text.h"
#include "app/program_files.h"
#include "app/startup.h"
#include "cli/command.h"
#include "cli/follow_thumbnails.h"
#include "cli/run_pace.h"
#include "platform/file_ops.h"
#include "platform/held_folder.h"
#include "platform/name_text.h"
#include "strip/strip_summary.h"

#include <QCommandLineParser>

namespace corvalin {

namespace fs = std::filesystem;

namespace {

class StripProgress : public StripObserver {
public:
    explicit StripProgress(CommandContext& context) : m_context(context) {}

    void yield() override {}
    bool cancelRequested() override { return false; }
    bool stopRequested() override { return m_context.stop.requested(); }
    void newName(const std::string&) override { ++m_renamed; }
    void previewRequested(const fs::path&) override {}
    void progress(int remaining, int total) override {
        const long done = total - remaining;
        m_context.terminal.progress("ファイル " + std::to_string(done) + "/" + std::to_string(total) + "  " +
                                    m_pace.text(m_renamed, "個", done, total));
    }

private:
    CommandContext& m_context;
    RunPace m_pace;
    long m_renamed = 0;
};

// Every file left as it was, by name, under the window's words for its reason.
void reportLeftFiles(const StripOutcome& outcome, Terminal& terminal) {
    terminal.messageLines(leftFilesHeadline(outcome));
    for (const LeftFile& file : outcome.left)
        terminal.message(std::string(leftReasonText(file.reason)) + ": " + legibleName(file.name));
}

// A strip hands out no serial numbers, so its start holds none.
RunStart stripStart(const fs::path& folder) {
    RunStart start;
    start.kind = RunKind::Strip;
    start.source = folder;
    return start;
}

// Journaled as the window's strip is, so that `corvalin undo` takes it back.
int stripFolder(const HeldFolder& folder, const std::vector<std::string>& names, const fs::path& history,
                CommandContext& context) {
    std::optional<RunJournal> journal =
        openCommandJournal(history, stripStart(folder.path()), context.terminal);
    if (!journal)
        return kExitFailed;
    StripProgress progress(context);
    const StripOutcome outcome = stripInFolder(folder, names, progress, &*journal);
    const fs::path journalFile = journal->file();
    const Status recorded = journal->finish(outcome.error     ? kOutcomeFailed
                                            : outcome.stopped ? kOutcomeCancelled
                                                              : kOutcomeCompleted);
    if (outcome.error)
        context.terminal.message(describeErrorLine(*outcome.error));
    if (!recorded && recorded.error() != outcome.error)
        context.terminal.message(describeErrorLine(recorded.error()));
    if (!outcome.left.empty())
        reportLeftFiles(outcome, context.terminal);
    context.terminal.result(stripSummary(outcome));
    followThumbnailsAfter(journalFile, JournalPass::Run, context);
    if (outcome.error || !recorded)
        return kExitFailed;
    return outcome.left.empty() ? kExitDone : kExitFilesLeft;
}

} // namespace

void declareStrip(QCommandLineParser& parser) {
    parser.addPositionalArgument(QStringLiteral("FOLDER"),
                                 QStringLiteral("The folder whose file names lose their serial numbers."));
}

int runStrip(const QCommandLineParser& parser, CommandContext& context) {
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 1)
        return commandUsageError(context.terminal, "strip", "give one FOLDER");
    // Made absolute, an empty name would mean the working folder.
    if (arguments.first().isEmpty())
        return commandUsageError(context.terminal, "strip", "FOLDER must not be empty");
    const SettingsFiles files = settingsFilesOfThisProgram();
    int status = kExitDone;
    const auto lock = lockForCommand(files.settingsFolder, context.terminal, status);
    if (!lock)
        return status;
    // A strip uses none of them, but the user's settings that cannot be read stop every run alike.
    if (!optionsForCommand(files, context.terminal))
        return kExitFailed;
    const int uncleanEnd = tellUncleanEnd(recoverAfterUncleanEnd(files), context.terminal);
    // Listed and stripped through the same hold of the folder: what is stripped is what was listed.
    const Result<HeldFolder> folder = HeldFolder::open(argumentPath(arguments.first()));
    const auto names = folder ? folder.value().files() : Result<std::vector<std::string>>(folder.error());
    if (!names) {
        context.terminal.message(describeErrorLine(names.error()));
        return kExitFailed;
    }
    return statusAfterUncleanEnd(stripFolder(folder.value(), names.value(), files.history(), context),
                                 uncleanEnd);
}

} // namespace corvalin
