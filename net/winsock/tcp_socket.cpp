// TcpSocket over Winsock 2: the calls that differ from POSIX (no EINTR or MSG_DONTWAIT, select
// and WSAPoll, cancelling a blocked call, the adapter list, the keep-alive options).
#include "net/tcp_socket.h"

#include "net/socket_backend.h"
#include "net/winsock/socket_library.h"

// iphlpapi.h needs the types of winsock2.h (from socket_backend.h) first.
#include <iphlpapi.h>
#include <mstcpip.h>

#include <algorithm>
#include <vector>

using namespace SocketBackend;

namespace {

// Sends go out in pieces of at most this much after the socket reported room, so that a blocking
// send never waits for a peer that stopped reading (see trySend).
constexpr int32_t SEND_PIECE = 4096;

// Waits until the socket can take bytes, or the deadline. 1 when it can, 0 when the time ran
// out, -1 on failure; a connection that failed counts as able, so that the send meets the error.
int WaitWritable(SOCKET handle, Clock::time_point deadline) {
    WSAPOLLFD entry{handle, POLLWRNORM, 0};
    const int result = ::WSAPoll(&entry, 1, MillisecondsLeft(deadline));
    return result < 0 ? -1 : result;
}

} // namespace

bool SocketBackend::StartLibrary() {
    return StartSocketLibrary() == 0;
}

void SocketBackend::SetLastSocketError(int code) {
    ::WSASetLastError(code);
}

// Winsock's codes are the table's own keys.
int SocketBackend::LastSocketErrorKey() {
    return ::WSAGetLastError();
}

// Non-blocking connect, wait for the outcome, then back to blocking mode. select, not WSAPoll:
// WSAPoll on older Windows 10 never reports a connect that failed.
bool SocketBackend::ConnectWithin(SocketHandle handle, const sockaddr_in& address, int timeoutMs) {
    u_long mode = 1;
    if (::ioctlsocket(handle, FIONBIO, &mode) != 0)
        return false;
    int error = 0;
    if (::connect(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = ::WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            fd_set writable;
            fd_set failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(handle, &writable);
            FD_SET(handle, &failed);
            timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
            const int ready = ::select(0, nullptr, &writable, &failed, &limit);
            if (ready == 0) {
                error = WSAETIMEDOUT;
            } else if (ready < 0) {
                error = ::WSAGetLastError();
            } else {
                int length = sizeof error;
                if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                                 &length) != 0)
                    error = ::WSAGetLastError();
                else if (error == 0 && FD_ISSET(handle, &failed))
                    error = WSAECONNREFUSED;
            }
        }
    }
    mode = 0;
    ::ioctlsocket(handle, FIONBIO, &mode);
    ::WSASetLastError(error);
    return error == 0;
}

// Exclusive use of the port. SO_REUSEADDR would do harm here: on Windows it lets another program
// bind the same port and take the room's incoming connections. A port whose old connections
// linger in TIME_WAIT can still be bound again.
bool SocketBackend::ClaimListenPort(SocketHandle handle) {
    const BOOL exclusive = TRUE;
    return ::setsockopt(handle, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                        reinterpret_cast<const char*>(&exclusive), sizeof exclusive) == 0;
}

// WSAENOTCONN means no connection is left to shut down (never connected, a listener, or reset by
// the peer); that is no failure.
bool SocketBackend::ShutDownSending(SocketHandle handle) {
    return ::shutdown(handle, SD_SEND) == 0 || ::WSAGetLastError() == WSAENOTCONN;
}

bool SocketBackend::CloseSocketHandle(SocketHandle handle) {
    return ::closesocket(handle) == 0;
}

int32_t TcpSocket::send(const char* data, int32_t length) {
    if (length < 0) {
        ::WSASetLastError(WSAEINVAL);
        return -1;
    }
    const int sent = ::send(handle, data, length, 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

int32_t TcpSocket::receive(char* buffer, uint32_t size) {
    const int received =
        ::recv(handle, buffer, static_cast<int>(std::min<uint32_t>(size, INT32_MAX)), 0);
    return received == SOCKET_ERROR ? -1 : received;
}

bool TcpSocket::accept() {
    acceptedHandle = ::accept(handle, nullptr, nullptr);
    if (acceptedHandle == NO_HANDLE) {
        const int error = ::WSAGetLastError();
        outOfResources = error == WSAEMFILE || error == WSAENOBUFS;
        lastError = describeLastError();
        return false;
    }
    outOfResources = false;
    return true;
}

std::string TcpSocket::localAddressList() {
    // The adapters themselves, as on Linux: the host-name lookup also answers addresses of
    // adapters that are down, and tells nothing about which is which.
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    std::vector<unsigned char> buffer(16 * 1024);
    ULONG size = static_cast<ULONG>(buffer.size());
    auto* adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    ULONG status = ::GetAdaptersAddresses(AF_INET, flags, nullptr, adapters, &size);
    if (status == ERROR_BUFFER_OVERFLOW) {
        buffer.resize(size);
        adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
        status = ::GetAdaptersAddresses(AF_INET, flags, nullptr, adapters, &size);
    }
    if (status != NO_ERROR)
        return {};
    std::string result;
    for (const IP_ADAPTER_ADDRESSES* adapter = adapters; adapter != nullptr;
         adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
            continue;
        for (const IP_ADAPTER_UNICAST_ADDRESS* entry = adapter->FirstUnicastAddress;
             entry != nullptr; entry = entry->Next) {
            const sockaddr* found = entry->Address.lpSockaddr;
            if (found == nullptr || found->sa_family != AF_INET)
                continue;
            const in_addr ip = reinterpret_cast<const sockaddr_in*>(found)->sin_addr;
            if ((ntohl(ip.s_addr) >> 24) == 127)
                continue;
            const std::string text = DottedText(ip);
            if (!text.empty())
                result += text + ' ';
        }
    }
    return result;
}

void TcpSocket::wake() {
    if (handle == NO_HANDLE)
        return;
    // The shutdown ends the connection for the peer and for later calls; a call that is already
    // blocked in recv or accept on Windows is not woken by it, so its pending request is cancelled
    // as well (the call then fails, which the loops read as the end).
    ::shutdown(handle, SD_BOTH);
    ::CancelIoEx(reinterpret_cast<HANDLE>(handle), nullptr);
}

bool TcpSocket::waitReadable(int timeoutMs) {
    if (handle == NO_HANDLE)
        return false;
    WSAPOLLFD entry{handle, POLLRDNORM, 0};
    return ::WSAPoll(&entry, 1, timeoutMs) > 0;
}

int32_t TcpSocket::sendAll(const char* data, int32_t length, int timeoutMs) {
    if (length < 0) {
        ::WSASetLastError(WSAEINVAL);
        return -1;
    }
    // Waiting for room before each piece bounds the time a peer that stops reading can cost.
    // Running out of time after a partial send leaves the stream cut mid-message; the caller
    // then drops the connection.
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int32_t done = 0;
    while (done < length) {
        const int ready = WaitWritable(handle, deadline);
        if (ready == 0)
            ::WSASetLastError(WSAETIMEDOUT);
        if (ready <= 0)
            return -1;
        const int sent = ::send(handle, data + done, std::min(length - done, SEND_PIECE), 0);
        if (sent == SOCKET_ERROR)
            return -1;
        done += sent;
    }
    return done;
}

bool TcpSocket::setKeepAlive(const KeepAliveTimings& timings) {
    // Idle time and probe interval in milliseconds; Windows sends a fixed number of probes unless
    // the newer per-socket count is there. TCP_MAXRT (seconds) bounds how long unacknowledged
    // data is retransmitted, as TCP_USER_TIMEOUT does on Linux.
    tcp_keepalive values{};
    values.onoff = 1;
    values.keepalivetime = static_cast<ULONG>(timings.idleSeconds) * 1000;
    values.keepaliveinterval = static_cast<ULONG>(timings.intervalSeconds) * 1000;
    DWORD returned = 0;
    if (::WSAIoctl(handle, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned,
                   nullptr, nullptr) != 0) {
        lastError = describeLastError();
        return false;
    }
    constexpr int KEEP_COUNT_OPTION = 16; // TCP_KEEPCNT, which older headers lack
    const DWORD probes = static_cast<DWORD>(timings.probeCount);
    (void)::setsockopt(handle, IPPROTO_TCP, KEEP_COUNT_OPTION,
                       reinterpret_cast<const char*>(&probes), sizeof probes);
    constexpr int MAX_RETRANSMIT_OPTION = 5; // TCP_MAXRT
    const DWORD seconds = static_cast<DWORD>((timings.userTimeoutMs + 999) / 1000);
    if (::setsockopt(handle, IPPROTO_TCP, MAX_RETRANSMIT_OPTION,
                     reinterpret_cast<const char*>(&seconds), sizeof seconds) != 0) {
        lastError = describeLastError();
        return false;
    }
    return true;
}

int32_t TcpSocket::trySend(const char* data, int32_t length) {
    if (length < 0) {
        ::WSASetLastError(WSAEINVAL);
        return -1;
    }
    // Winsock has no per-call MSG_DONTWAIT, and switching the socket to non-blocking mode would
    // also break the reader thread's blocking recv on it. So: send only when the socket reports
    // room, and then a piece small enough that the stack takes it whole without waiting.
    WSAPOLLFD entry{handle, POLLWRNORM, 0};
    const int ready = ::WSAPoll(&entry, 1, 0);
    if (ready < 0)
        return -1;
    if (ready == 0)
        return WOULD_BLOCK;
    const int sent = ::send(handle, data, std::min(length, SEND_PIECE), 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

int32_t TcpSocket::tryRecv(char* buffer, uint32_t size) {
    // As trySend: no per-call MSG_DONTWAIT, so receive only what the socket reports readable (bytes
    // or the end of the connection), which a recv then returns without waiting.
    WSAPOLLFD entry{handle, POLLRDNORM, 0};
    const int ready = ::WSAPoll(&entry, 1, 0);
    if (ready < 0)
        return -1;
    if (ready == 0)
        return WOULD_BLOCK;
    const int received =
        ::recv(handle, buffer, static_cast<int>(std::min<uint32_t>(size, INT32_MAX)), 0);
    return received == SOCKET_ERROR ? -1 : received;
}

bool TcpSocket::limitUnsent(int bytes) {
    // Winsock has no unsent-bytes mark; a send buffer of this size bounds what it holds instead.
    if (::setsockopt(handle, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes),
                     sizeof bytes) != 0) {
        lastError = describeLastError();
        return false;
    }
    return true;
}
