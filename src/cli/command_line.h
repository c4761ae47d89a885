#pragma once

namespace corvalin {

// Any argument asks for the command line; without one the window opens.
bool isCommandLine(int argc, char* argv[]);

// Runs what the arguments ask for (a command, the help, the version) without a window, and returns
// the exit status (see ExitStatus in cli/command.h).
int runCommandLine(int argc, char* argv[]);

} // namespace corvalin
