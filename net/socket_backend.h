// SocketBackend: what TcpSocket's shared code (net/tcp_socket.cpp) asks of the platform's socket
// backend (net/posix/ or net/winsock/), and the helpers both sides use. Private to net/.
#pragma once

#include "net/socket_handle.h"

// The backend's own headers, AddressLength and error codes; net/CMakeLists.txt puts its folder on
// the include path of this library only.
#include "socket_api.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace SocketBackend {

using Clock = std::chrono::steady_clock;

// Milliseconds from now until the deadline; 0 once it has passed.
int MillisecondsLeft(Clock::time_point deadline);
// The dotted text of an IPv4 address; empty when it cannot be written.
std::string DottedText(in_addr address);

// Implemented by each backend.

// Starts the platform's socket library where it needs starting; false with the last socket error
// set when it cannot.
bool StartLibrary();
// The thread's last socket error, set and read in the platform's own codes
// (TIMED_OUT_CODE, NO_SOCKET_CODE; 0 for none).
void SetLastSocketError(int code);
// The error table's key (a Windows Sockets number) for the thread's last socket error.
int LastSocketErrorKey();

// A blocking connect that gives up after timeoutMs; false with the thread's last socket error set.
// The socket is in blocking mode again afterwards.
bool ConnectWithin(SocketHandle handle, const sockaddr_in& address, int timeoutMs);
// The address option a listener sets before it binds; false with the last socket error set.
bool ClaimListenPort(SocketHandle handle);
// Shuts the sending side down: true also when there was no connection left to shut down.
bool ShutDownSending(SocketHandle handle);
// Releases the handle; the handle is gone whatever the result.
bool CloseSocketHandle(SocketHandle handle);

} // namespace SocketBackend
