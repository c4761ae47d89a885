#pragma once

#include "app/extra_options.h"
#include "app/startup.h"
#include "cli/stop_signals.h"
#include "cli/terminal.h"
#include "history/run_journal.h"
#include "history/unclean_end.h"
#include "platform/instance_lock.h"

#include <filesystem>
#include <optional>
#include <vector>

class QCommandLineParser;
class QString;

namespace corvalin {

enum ExitStatus : int {
    kExitDone = 0,
    kExitFailed = 1,        // one line on standard error names the file and the system's reason
    kExitWrongUsage = 2,    // usage on standard error
    kExitOtherInstance = 3, // another Corvalin holds the same settings folder
    kExitFilesLeft = 4,     // done, but some files were left as they were (named on standard error)
};

struct CommandContext {
    Terminal& terminal;
    const StopSignals& stop;
};

// One command of the table: `corvalin NAME SYNOPSIS`. Adding a command is adding a row.
struct Command {
    const char* name;
    const char* synopsis;
    const char* summary; // one line for the overview
    void (*declare)(QCommandLineParser& parser);
    int (*run)(const QCommandLineParser& parser, CommandContext& context);
};

// Every command, in the order the help lists them.
const std::vector<Command>& commands();

// A folder named on the command line: its bytes exactly as given (the arguments are decoded as
// Latin-1, one character a byte), made absolute against the working folder.
std::filesystem::path argumentPath(const QString& argument);

// Text that quotes an argument, with the argument's own bytes, safe to print.
std::string argumentText(const QString& text);

// Takes the settings folder's lock for a command's run. Nothing, and `status` set, when another
// Corvalin holds it (3) or it cannot be taken (1); the message is written.
std::optional<InstanceLock> lockForCommand(const std::filesystem::path& settingsFolder, Terminal& terminal,
                                           int& status);

// Says on standard error what the putting in order after an unclean end found. A part of it that
// failed makes the command end with status 1, after its own work: what failed concerns an earlier
// run, and the command's own work does not depend on it.
int tellUncleanEnd(const UncleanEndReport& report, Terminal& terminal);
int statusAfterUncleanEnd(int status, int uncleanEndStatus);
// The journal of a command's run in `historyFolder`, opened before the run touches anything. No
// run starts without one, as in the window: nothing it did could be undone. Nothing when it cannot
// be made; the message is written.
std::optional<RunJournal> openCommandJournal(const std::filesystem::path& historyFolder,
                                             const RunStart& start, Terminal& terminal);

// The options of Corvalin.conf for a command's run, read before it touches anything. Nothing when
// the file is there and cannot be read; the message is written, and the command ends with status 1.
std::optional<ExtraOptions> optionsForCommand(const SettingsFiles& files, Terminal& terminal);

// A usage error of one command: the message, a pointer to its help, status 2.
int commandUsageError(Terminal& terminal, const char* command, const std::string& message);

} // namespace corvalin
