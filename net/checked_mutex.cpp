// The failure of a lock check: a fault in our code, reported and ended at once.
#include "net/checked_mutex.h"

#include <cstdio>
#include <cstdlib>

void CheckedMutex::failHeld(const char* what) {
    std::fprintf(stderr, "lock check failed: %s runs without the lock it needs\n", what);
    std::abort();
}
