#include "cli/history_command.h"

#include "app/error_text.h"
#include "app/program_files.h"
#include "cli/command.h"
#include "history/history_texts.h"
#include "platform/name_text.h"

#include <QCommandLineParser>

namespace corvalin {

namespace {

constexpr const char* kGap = "  ";

} // namespace

std::string historyLine(const RunSummary& run) {
    std::string line = run.id + kGap + dateTimeText(run.time) + kGap;
    if (run.state == RunState::Damaged)
        return line + stateText(run.state);
    line += kindText(run.kind) + kGap + legibleName(run.source.native());
    if (!run.destination.empty())
        line += " → " + legibleName(run.destination.native());
    line += kGap + runCountsText(run);
    if (const std::string serials = serialRangeText(run); !serials.empty())
        line += kGap + serials;
    return line + kGap + stateText(run.state);
}

void declareHistory(QCommandLineParser&) {}

int runHistory(const QCommandLineParser& parser, CommandContext& context) {
    if (!parser.positionalArguments().isEmpty())
        return commandUsageError(context.terminal, "history", "takes no arguments");
    const Result<std::vector<RunSummary>> runs = listRuns(settingsFilesOfThisProgram().history());
    if (!runs) {
        context.terminal.message(describeErrorLine(runs.error()));
        return kExitFailed;
    }
    // An empty output would read as a failure to find the history.
    if (runs.value().empty())
        context.terminal.result(kNoRunsYetText);
    for (const RunSummary& run : runs.value())
        context.terminal.result(historyLine(run));
    return kExitDone;
}

} // namespace corvalin
