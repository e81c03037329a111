// Thread::lowerPriorityBy on Linux, where each thread has a nice value of its own.
#include "net/thread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

void Thread::lowerPriorityBy(int steps) {
    // Ten steps below the program's own: about a tenth of the share of a thread at its priority
    // when both want the processor, and all of it when the other does not. Never starved.
    const auto self = static_cast<id_t>(::gettid());
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, self);
    if (current == -1 && errno != 0)
        return;
    ::setpriority(PRIO_PROCESS, self, std::min(current + steps, 19));
}
