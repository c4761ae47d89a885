#include "cli/command_line.h"

#include "cli/command.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstring>

namespace corvalin {

namespace {

const char* const kDescription = "Gathers downloaded pictures from many child folders into one folder,\n"
                                 "each under a running six-digit serial number.\n"
                                 "Without a command, opens the window.";

const char* const kExitStatusHelp =
    "\nExit status:\n"
    "  0  done\n"
    "  1  a failure, named on standard error\n"
    "  2  wrong usage\n"
    "  3  another Corvalin uses the same settings folder\n"
    "  4  done, but some files were left as they were (named on standard error)\n"
    "\nSignals:\n"
    "  SIGINT (Ctrl+C), SIGTERM or SIGHUP stops a command after the file in hand,\n"
    "  as closing the window does; the command then ends by that signal, so that a\n"
    "  shell shows status 130, 143 or 129. A second signal ends it at once.\n";

// Qt's own help option would offer Qt's window options too, which a command has none of.
QCommandLineOption addHelp(QCommandLineParser& parser) {
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Display this help and exit."));
    parser.addOption(help);
    return help;
}

// One character a byte, so that a name that is not UTF-8 reaches the disk unchanged.
QStringList argumentsOf(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLatin1(argv[i]);
    return arguments;
}

const Command* findCommand(const QString& name) {
    for (const Command& command : commands()) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

// QCommandLineParser's help without its first line, under a usage line of our own.
std::string helpBelow(const std::string& usage, const QCommandLineParser& parser) {
    const QString text = parser.helpText();
    return usage + text.mid(text.indexOf(QLatin1Char('\n')) + 1).toStdString();
}

// The command's name and, when it takes any, its arguments.
std::string usageOf(const Command& command) {
    const std::string synopsis = command.synopsis;
    return synopsis.empty() ? command.name : command.name + (" " + synopsis);
}

std::string overviewHelp(const QCommandLineParser& parser) {
    std::string help = helpBelow("Usage: corvalin [COMMAND [ARGUMENTS]]\n", parser);
    help += "\nCommands:\n";
    for (const Command& command : commands())
        help += "  " + usageOf(command) + "\n      " + command.summary + "\n";
    help += "\n'corvalin COMMAND --help' describes a command.\n";
    return help + kExitStatusHelp;
}

std::string versionText() {
    return QStringLiteral("corvalin %1.%2.%3\nCopyright (c) 2026 Corvalin developers\nLicense: MIT\n")
        .arg(CORVALIN_VERSION_MAJOR)
        .arg(CORVALIN_VERSION_MINOR)
        .arg(CORVALIN_VERSION_PATCH)
        .toStdString();
}

// A result that never reached standard output is a failure of the command, said on standard error.
int checkedOutput(Terminal& terminal, int status) {
    const int error = terminal.outputError();
    if (error == 0)
        return status;
    terminal.message(std::string("標準出力への書き込みができませんでした: ") + std::strerror(error));
    return status == kExitDone || status == kExitFilesLeft ? kExitFailed : status;
}

int usageError(Terminal& terminal, const std::string& message) {
    terminal.usage("corvalin: " + message + "\nTry 'corvalin --help' for more information.\n");
    return kExitWrongUsage;
}

int runCommand(const Command& command, const QStringList& arguments, CommandContext& context) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(command.summary) + QLatin1Char('.'));
    const QCommandLineOption help = addHelp(parser);
    command.declare(parser);
    if (!parser.parse(arguments))
        return commandUsageError(context.terminal, command.name, argumentText(parser.errorText()));
    if (parser.isSet(help)) {
        context.terminal.help(helpBelow("Usage: corvalin " + usageOf(command) + "\n", parser) +
                              kExitStatusHelp);
        return kExitDone;
    }
    return command.run(parser, context);
}

} // namespace

bool isCommandLine(int argc, char* /*argv*/[]) {
    return argc > 1;
}

int runCommandLine(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    Terminal terminal = Terminal::standard();
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    const QCommandLineOption help = addHelp(parser);
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Display the version and exit."));
    parser.addOption(version);
    parser.addPositionalArgument(QStringLiteral("COMMAND"), QStringLiteral("One of the commands below."));
    // Everything after the command is the command's own.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QStringList arguments = argumentsOf(argc, argv);
    if (!parser.parse(arguments))
        return usageError(terminal, argumentText(parser.errorText()));
    if (parser.isSet(help)) {
        terminal.help(overviewHelp(parser));
        return checkedOutput(terminal, kExitDone);
    }
    if (parser.isSet(version)) {
        terminal.help(versionText());
        return checkedOutput(terminal, kExitDone);
    }
    const QStringList rest = parser.positionalArguments();
    if (rest.isEmpty())
        return usageError(terminal, "no command given");
    const Command* command = findCommand(rest.first());
    if (!command)
        return usageError(terminal, "'" + argumentText(rest.first()) + "' is no command");
    StopSignals stop;
    CommandContext context{terminal, stop};
    const int status = runCommand(
        *command, QStringList{arguments.first() + QLatin1Char(' ') + rest.first()} + rest.mid(1), context);
    stop.endByStopSignal();
    return checkedOutput(terminal, status);
}

} // namespace corvalin
