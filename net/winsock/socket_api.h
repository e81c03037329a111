// Winsock's headers and error codes for the shared socket code in net/ (see
// net/socket_backend.h, which includes this file through the backend's include directory).
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

namespace SocketBackend {
using AddressLength = int; // what getsockname and its kin take
inline constexpr int TIMED_OUT_CODE = WSAETIMEDOUT;
inline constexpr int NO_SOCKET_CODE = WSAENOTSOCK;
} // namespace SocketBackend
