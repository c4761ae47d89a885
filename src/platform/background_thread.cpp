#include "platform/background_thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace corvalin {

void becomeBackgroundThread(const char* name) {
    ::pthread_setname_np(::pthread_self(), name);
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 10);
}

} // namespace corvalin
