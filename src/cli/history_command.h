#pragma once

#include "history/run_history.h"

#include <string>

class QCommandLineParser;

namespace corvalin {

struct CommandContext;

// One line of `corvalin history`: the id, date and time, kind, folders, counts, serial numbers
// and state, with the history window's words.
std::string historyLine(const RunSummary& run);

// corvalin history: the past runs, newest first, a line each. Reads the journals only, so it needs
// no lock and runs beside a window.
void declareHistory(QCommandLineParser& parser);
int runHistory(const QCommandLineParser& parser, CommandContext& context);

} // namespace corvalin
