// Thread::giveWayToEveryone on Windows: the thread keeps its priority. Windows runs threads
// strictly by priority, so a thread below normal would stop whenever any program at normal
// priority kept the processor busy, and a file would stall for as long.
#include "net/thread.h"

void Thread::giveWayToEveryone() {}
