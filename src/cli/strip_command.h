#pragma once

class QCommandLineParser;

namespace corvalin {

struct CommandContext;

// corvalin strip FOLDER: the strip run in a folder, without a window. Files whose stripped name is
// taken stay as they are and are named on standard error (status 4).
void declareStrip(QCommandLineParser& parser);
int runStrip(const QCommandLineParser& parser, CommandContext& context);

} // namespace corvalin
