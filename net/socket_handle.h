// SocketHandle: the platform's handle of an open socket, and the value that stands for none.
#pragma once

#ifdef _WIN32
#include <cstdint>

// A Winsock SOCKET (an unsigned number the size of a pointer). Its none is INVALID_SOCKET, all
// bits set; written out here so that this header needs no Windows header.
using SocketHandle = uintptr_t;
inline constexpr SocketHandle NO_HANDLE = ~SocketHandle{0};
#else
// A POSIX descriptor. 0 is a valid descriptor, so "none" is -1, a value open() and socket() never
// hand out.
using SocketHandle = int;
inline constexpr SocketHandle NO_HANDLE = -1;
#endif
