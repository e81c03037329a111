// The heap on Windows: every thread already allocates from the one process heap, which gives
// large free blocks back when compacted.
#include "net/heap.h"

#include <windows.h>

void ShareOneHeap() {}

void GiveBackFreeMemory() {
    ::HeapCompact(::GetProcessHeap(), 0);
}
