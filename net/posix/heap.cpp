// The heap with glibc: each thread that allocates may get a heap of its own (an arena) unless
// their number is limited; malloc_trim gives the free pages of every heap back.
#include "net/heap.h"

#include <malloc.h>

void ShareOneHeap() {
    ::mallopt(M_ARENA_MAX, 1);
}

void GiveBackFreeMemory() {
    ::malloc_trim(0);
}
