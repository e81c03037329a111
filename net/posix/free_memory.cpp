// GiveBackFreeMemory with glibc: each thread that allocates may get a heap of its own (an arena),
// and a heap keeps what was freed inside it; malloc_trim gives the free pages of every heap back.
#include "net/free_memory.h"

#include <malloc.h>

void GiveBackFreeMemory() {
    ::malloc_trim(0);
}
