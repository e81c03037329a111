// The POSIX socket headers and error codes for the shared socket code in net/ (see
// net/socket_backend.h, which includes this file through the backend's include directory).
#pragma once

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace SocketBackend {
using AddressLength = socklen_t;
inline constexpr int TIMED_OUT_CODE = ETIMEDOUT;
inline constexpr int NO_SOCKET_CODE = EBADF;
} // namespace SocketBackend
