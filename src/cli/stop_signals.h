#pragma once

namespace corvalin {

// Ctrl+C, SIGTERM and SIGHUP ask a command to stop after the file in hand, as closing the window
// does; a second one ends it at once. SIGPIPE is ignored, so a reader that leaves early (`| head`)
// costs the command its output, never its tidy end.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool requested() const;

    // After the command has tidied up: ends the process by the signal that stopped it, so that the
    // shell running it (a script, a loop) sees it as interrupted. Returns when there was none.
    void endByStopSignal() const;
};

} // namespace corvalin
