// Waker over a loopback connection made to itself: Windows has no pipe that WSAPoll can watch,
// so a byte sent on one end of a TCP connection on 127.0.0.1 means "look for work".
#include "net/waker.h"

#include "net/tcp_socket.h"
#include "net/winsock/socket_library.h"

#include <winsock2.h>

namespace {

// The two ends of a fresh loopback connection, or false with the thread's last socket error set.
bool ConnectedPair(SOCKET& readEnd, SOCKET& writeEnd) {
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof address;
    // Exclusive, so that no other program can bind the port meanwhile and take the connection.
    const BOOL exclusive = TRUE;
    bool made = ::setsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                             reinterpret_cast<const char*>(&exclusive), sizeof exclusive) == 0 &&
                ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
                ::listen(listener, 1) == 0;
    writeEnd = made ? ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET;
    made = writeEnd != INVALID_SOCKET &&
           ::connect(writeEnd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    readEnd = made ? ::accept(listener, nullptr, nullptr) : INVALID_SOCKET;
    made = readEnd != INVALID_SOCKET;
    const int error = ::WSAGetLastError();
    ::closesocket(listener);
    if (!made && writeEnd != INVALID_SOCKET)
        ::closesocket(writeEnd);
    ::WSASetLastError(error);
    return made;
}

} // namespace

Waker::Waker() {
    SOCKET readEnd = INVALID_SOCKET;
    SOCKET writeEnd = INVALID_SOCKET;
    u_long nonBlocking = 1;
    if (StartSocketLibrary() != 0 || !ConnectedPair(readEnd, writeEnd) ||
        ::ioctlsocket(readEnd, FIONBIO, &nonBlocking) != 0) {
        lastError = TcpSocket::describeLastError();
        if (readEnd != INVALID_SOCKET) {
            ::closesocket(readEnd);
            ::closesocket(writeEnd);
        }
        return;
    }
    // A wake-up byte must leave at once, not wait to be joined by more.
    const BOOL noDelay = TRUE;
    ::setsockopt(writeEnd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                 sizeof noDelay);
    readHandle = readEnd;
    writeHandle = writeEnd;
}

Waker::~Waker() {
    if (readHandle != NO_HANDLE)
        ::closesocket(readHandle);
    if (writeHandle != NO_HANDLE)
        ::closesocket(writeHandle);
}

void Waker::wake() {
    if (writeHandle == NO_HANDLE || pending.exchange(true))
        return;
    // One byte between drains: the connection's buffer can never fill, so this never blocks.
    const char signal = 1;
    ::send(writeHandle, &signal, 1, 0);
}

void Waker::drain() {
    char bytes[64];
    while (::recv(readHandle, bytes, sizeof bytes, 0) > 0) {
    }
    // Cleared after reading, as on POSIX: a wake() from here on sends a byte of its own, and one
    // that came before found `pending` set, but its work is seen by the caller's next look.
    pending = false;
}
