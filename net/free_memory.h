// GiveBackFreeMemory: hands the memory the program's allocator keeps free back to the system, so
// that what a flood made the buffers grow to does not stay with the program once they are given
// back. Costs a walk over the allocator's heaps: for after a flood, not for every line.
#pragma once

void GiveBackFreeMemory();
