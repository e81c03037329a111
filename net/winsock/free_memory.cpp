// GiveBackFreeMemory on Windows: the process heap gives large free blocks back when compacted.
#include "net/free_memory.h"

#include <windows.h>

void GiveBackFreeMemory() {
    ::HeapCompact(::GetProcessHeap(), 0);
}
