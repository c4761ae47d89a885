#include "cli/command.h"

#include "app/error_text.h"
#include "cli/gather_command.h"
#include "cli/history_command.h"
#include "cli/strip_command.h"
#include "cli/undo_command.h"
#include "platform/paths.h"

#include <QString>

namespace corvalin {

namespace fs = std::filesystem;

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        {"gather", "[--delete-folders] [--plan] [SOURCE DEST]",
         "Move the pictures of SOURCE's child folders into DEST under serial numbers", declareGather,
         runGather},
        {"strip", "FOLDER", "Cut the serial numbers off the file names in FOLDER", declareStrip, runStrip},
        {"history", "", "List the past runs, newest first, a line each", declareHistory, runHistory},
        {"undo", "[RUN]", "Undo a past run (the newest when no RUN is given)", declareUndo, runUndo},
    };
    return table;
}

fs::path argumentPath(const QString& argument) {
    const QByteArray bytes = argument.toLatin1();
    std::error_code ignored;
    const fs::path given(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    return withoutTrailingSlash(fs::absolute(given, ignored).lexically_normal());
}

std::string argumentText(const QString& text) {
    return terminalSafe(text.toLatin1().toStdString());
}

std::optional<InstanceLock> lockForCommand(const fs::path& settingsFolder, Terminal& terminal, int& status) {
    auto lock = InstanceLock::tryAcquire(settingsFolder);
    if (lock && lock.value())
        return std::move(lock.value());
    if (lock) {
        terminal.message(otherInstanceText(settingsFolder));
        status = kExitOtherInstance;
    } else {
        terminal.message(describeErrorLine(lock.error()));
        status = kExitFailed;
    }
    return std::nullopt;
}

int tellUncleanEnd(const UncleanEndReport& report, Terminal& terminal) {
    if (const std::string text = describeUncleanEnd(report); !text.empty())
        terminal.messageLines(text);
    return report.failures.empty() ? kExitDone : kExitFailed;
}

int statusAfterUncleanEnd(int status, int uncleanEndStatus) {
    return uncleanEndStatus == kExitDone ? status : kExitFailed;
}

std::optional<RunJournal> openCommandJournal(const fs::path& historyFolder, const RunStart& start,
                                             Terminal& terminal) {
    Result<RunJournal> created = RunJournal::create(historyFolder, start);
    if (!created) {
        terminal.message(describeErrorLine(created.error()) + " " + kNoJournalText);
        return std::nullopt;
    }
    return std::move(created.value());
}

std::optional<ExtraOptions> optionsForCommand(const SettingsFiles& files, Terminal& terminal) {
    Result<ExtraOptions> options = loadExtraOptions(files.extraOptionsFile());
    if (!options) {
        terminal.message(describeErrorLine(options.error()));
        return std::nullopt;
    }
    return std::move(options.value());
}

int commandUsageError(Terminal& terminal, const char* command, const std::string& message) {
    terminal.usage("corvalin " + std::string(command) + ": " + message + "\nTry 'corvalin " + command +
                   " --help' for more information.\n");
    return kExitWrongUsage;
}

} // namespace corvalin
