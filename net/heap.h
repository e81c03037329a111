// The program's heap as the host's many threads use it: one heap shared rather than one per
// thread, and what a flood freed given back to the system.
#pragma once

// From now on threads that start share the heaps that exist rather than each getting one of its
// own: a host's thirty-odd threads each allocate little, and every heap keeps what was freed in
// it, so that separate heaps would hold many times what the room uses.
void ShareOneHeap();
// Hands the memory the heap keeps free back to the system, so that what a flood made the buffers
// grow to does not stay with the program once they are freed. Costs a walk over the heap: for
// after a flood, not for every line.
void GiveBackFreeMemory();
