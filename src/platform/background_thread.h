#pragma once

namespace corvalin {

// Names the calling thread (as `top -H` and a debugger show it, at most 15 bytes) and puts it
// below the window and the runs on a busy machine: on Linux a thread has a nice value of its own.
void becomeBackgroundThread(const char* name);

} // namespace corvalin
