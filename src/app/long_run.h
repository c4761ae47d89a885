#pragma once

#include <chrono>

namespace corvalin {

// A move or strip run this long, from its click to its end, is one a user may leave to look
// elsewhere.
inline constexpr std::chrono::seconds kLongRun{10};

// Whether the end of a run is told outside the window: it took longer than kLongRun, the user
// looks elsewhere (the main window is not the active one), and the option asks for it.
inline bool wantsEndNotice(std::chrono::steady_clock::duration took, bool windowActive, bool optionOn) {
    return optionOn && !windowActive && took > kLongRun;
}

} // namespace corvalin
