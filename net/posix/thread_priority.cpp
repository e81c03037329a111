// Thread::giveWayToEveryone on Linux, where each thread has a nice value of its own.
#include "net/thread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

void Thread::giveWayToEveryone() {
    // The highest nice value: about a seventieth of the share of a thread at the program's priority
    // when both want the processor, and all of it when the other does not. Never starved.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
}
