#pragma once

class QCommandLineParser;

namespace corvalin {

struct CommandContext;

// corvalin gather [--delete-folders] [SOURCE DEST]: the move run without a window, over the saved
// folders when none are given. It shares the settings folder, its counter file and Corvalin.conf
// (what is removed goes to the Trash or for good) with the window, with the same start-up and
// shutdown rules, and never changes the saved folders.
void declareGather(QCommandLineParser& parser);
int runGather(const QCommandLineParser& parser, CommandContext& context);

} // namespace corvalin
