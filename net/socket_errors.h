// The error-text table: POSIX error codes shown with the texts of the Windows Sockets rows of the
// same meaning, which is what users and peers of this program know.
#pragma once

#include <string>

// The text ("SYMBOL\nDescription") for a Windows Sockets error number; empty when unlisted.
std::string SocketErrorText(int wsaCode);
// The Windows Sockets error number of the same meaning as a POSIX errno value; 0 when none. The
// POSIX backend's (net/posix/errno_codes.cpp); Winsock's codes need no mapping.
int WsaCodeForErrno(int posixErrno);

// Rows for failures that no platform call reported: an argument out of range, no thread.
inline constexpr int WSA_INVALID_ARGUMENT = 10022;
inline constexpr int WSA_NOT_ENOUGH_MEMORY = 8;
