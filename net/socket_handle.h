// SocketHandle: the platform's handle of an open socket, and the value that stands for none.
#pragma once

// A POSIX descriptor. 0 is a valid descriptor, so "none" is -1, a value open() and socket() never
// hand out.
using SocketHandle = int;
inline constexpr SocketHandle NO_HANDLE = -1;
