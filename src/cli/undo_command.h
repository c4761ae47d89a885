#pragma once

class QCommandLineParser;

namespace corvalin {

struct CommandContext;

// corvalin undo [RUN]: undoes a past run, the newest by default, as the history window's undo
// does, under the settings folder's lock. Stops after the item in hand on a stop signal; undoing
// again goes on where it stopped.
void declareUndo(QCommandLineParser& parser);
int runUndo(const QCommandLineParser& parser, CommandContext& context);

} // namespace corvalin
