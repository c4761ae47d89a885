#include "cli/stop_signals.h"

#include <csignal>

namespace corvalin {

namespace {

volatile std::sig_atomic_t stopSignal = 0;
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

void onStopSignal(int signal) {
    stopSignal = signal;
}

} // namespace

StopSignals::StopSignals() {
    stopSignal = 0;
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // The handler runs once; the next signal has its default effect and ends the process.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (const int signal : kStopSignals)
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

StopSignals::~StopSignals() {
    for (const int signal : kStopSignals)
        std::signal(signal, SIG_DFL);
}

bool StopSignals::requested() const {
    return stopSignal != 0;
}

void StopSignals::endByStopSignal() const {
    const int signal = stopSignal;
    if (signal == 0)
        return;
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace corvalin
