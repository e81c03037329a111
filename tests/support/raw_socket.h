// The platform's own socket calls for the tests' raw peers (tests/support/loopback.h): the handle
// type and the few calls whose names differ between POSIX sockets and Winsock.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

using RawHandle = SOCKET;
inline constexpr RawHandle NO_RAW = INVALID_SOCKET;
// Winsock has no SIGPIPE to keep away.
inline constexpr int RAW_SEND_FLAGS = 0;
// The program's listener takes its port exclusively, so a reservation lets go of the port as soon
// as the system has picked it, which leaves it free but no longer held.
inline constexpr bool HOLD_RESERVED_PORT = false;

inline int CloseRaw(RawHandle handle) {
    return ::closesocket(handle);
}
inline int PollRaw(pollfd* entries, unsigned long count, int timeoutMs) {
    return ::WSAPoll(entries, count, timeoutMs);
}
// Winsock must be up before a test's first raw socket, which may come before any TcpSocket.
inline const bool RAW_SOCKETS_STARTED = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}();
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using RawHandle = int;
inline constexpr RawHandle NO_RAW = -1;
// A peer that hung up must fail the send, not end the test program (SIGPIPE).
inline constexpr int RAW_SEND_FLAGS = MSG_NOSIGNAL;
// A reservation keeps its bound socket: Linux lets the program listen on the port beside it.
inline constexpr bool HOLD_RESERVED_PORT = true;

inline int CloseRaw(RawHandle handle) {
    return ::close(handle);
}
inline int PollRaw(pollfd* entries, nfds_t count, int timeoutMs) {
    return ::poll(entries, count, timeoutMs);
}
#endif
