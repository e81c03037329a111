// Thread::lowerPriorityBy on Windows: the thread keeps its priority. Windows runs threads strictly
// by priority, so a room's threads below normal would stop whenever any program at normal priority
// kept the processor busy; the window's thread has the foreground's longer quantum instead.
#include "net/thread.h"

void Thread::lowerPriorityBy(int) {}
