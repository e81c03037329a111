// TcpSocket over POSIX sockets: the calls that differ from Winsock (EINTR, MSG_NOSIGNAL, fcntl and
// poll, the interface list, the keep-alive options).
#include "net/tcp_socket.h"

#include "net/socket_backend.h"
#include "net/socket_errors.h"

#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>

using namespace SocketBackend;

namespace {

// Polls one descriptor until an event or the deadline; a signal does not cut the wait short.
// Returns poll's result: 1 with an event, 0 when the time ran out, -1 on failure.
int PollUntil(int handle, short events, Clock::time_point deadline, short* revents) {
    for (;;) {
        pollfd entry{handle, events, 0};
        const int result = ::poll(&entry, 1, MillisecondsLeft(deadline));
        if (result < 0 && errno == EINTR)
            continue;
        *revents = entry.revents;
        return result;
    }
}

// One platform send, retried on EINTR. MSG_NOSIGNAL: a peer that hung up must cost a -1, not the
// process (SIGPIPE).
int32_t SendOnce(int handle, const char* data, int32_t length, int flags) {
    if (length < 0) {
        errno = EINVAL;
        return -1;
    }
    ssize_t sent;
    do {
        sent = ::send(handle, data, static_cast<size_t>(length), MSG_NOSIGNAL | flags);
    } while (sent < 0 && errno == EINTR);
    return static_cast<int32_t>(sent);
}

} // namespace

// POSIX sockets need no start-up.
bool SocketBackend::StartLibrary() {
    return true;
}

void SocketBackend::SetLastSocketError(int code) {
    errno = code;
}

int SocketBackend::LastSocketErrorKey() {
    return WsaCodeForErrno(errno);
}

// Non-blocking connect, wait for the outcome, then back to blocking mode.
bool SocketBackend::ConnectWithin(SocketHandle handle, const sockaddr_in& address, int timeoutMs) {
    const int flags = ::fcntl(handle, F_GETFL);
    if (flags < 0 || ::fcntl(handle, F_SETFL, flags | O_NONBLOCK) < 0)
        return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

    int error = 0;
    if (::connect(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
        error = errno;
        // An interrupted non-blocking connect goes on in the background like one in progress.
        if (error == EINPROGRESS || error == EINTR) {
            short revents = 0;
            const int ready = PollUntil(handle, POLLOUT, deadline, &revents);
            if (ready == 0) {
                error = ETIMEDOUT;
            } else if (ready < 0) {
                error = errno;
            } else {
                socklen_t length = sizeof error;
                if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &length) < 0)
                    error = errno;
            }
        }
    }
    ::fcntl(handle, F_SETFL, flags);
    errno = error;
    return error == 0;
}

// SO_REUSEADDR, so that a room can be reopened on a port whose old connections still sit in
// TIME_WAIT; a port another program listens on still fails.
bool SocketBackend::ClaimListenPort(SocketHandle handle) {
    const int reuse = 1;
    return ::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) == 0;
}

// ENOTCONN means no connection is left to shut down: never connected, reset by the peer, or
// already in TIME_WAIT after both sides sent their FIN (Linux reports the last two as not
// connected); that is no failure.
bool SocketBackend::ShutDownSending(SocketHandle handle) {
    return ::shutdown(handle, SHUT_WR) == 0 || errno == ENOTCONN;
}

// Never retried: on Linux the descriptor is gone even when close reports EINTR or EIO, and a
// second close could hit a descriptor that another thread has just been given.
bool SocketBackend::CloseSocketHandle(SocketHandle handle) {
    return ::close(handle) == 0;
}

int32_t TcpSocket::send(const char* data, int32_t length) {
    return SendOnce(handle, data, length, 0);
}

int32_t TcpSocket::receive(char* buffer, uint32_t size) {
    ssize_t received;
    do {
        received = ::recv(handle, buffer, size, 0);
    } while (received < 0 && errno == EINTR);
    return static_cast<int32_t>(received);
}

bool TcpSocket::accept() {
    do {
        acceptedHandle = ::accept(handle, nullptr, nullptr);
    } while (acceptedHandle < 0 && errno == EINTR);
    // 0 is a valid descriptor here; only -1 is a failure.
    if (acceptedHandle == NO_HANDLE) {
        outOfResources = errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
        lastError = describeLastError();
        return false;
    }
    outOfResources = false;
    return true;
}

std::string TcpSocket::localAddressList() {
    // The host-name lookup on Linux usually answers only 127.0.1.1, which tells peers nothing, so
    // the interfaces themselves are listed.
    ifaddrs* interfaces = nullptr;
    if (::getifaddrs(&interfaces) < 0)
        return {};
    std::string result;
    for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        const std::string text =
            DottedText(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr);
        if (!text.empty())
            result += text + ' ';
    }
    ::freeifaddrs(interfaces);
    return result;
}

void TcpSocket::wake() {
    if (handle != NO_HANDLE)
        ::shutdown(handle, SHUT_RDWR);
}

bool TcpSocket::waitReadable(int timeoutMs) {
    // poll ignores a negative descriptor and would just sleep.
    if (handle == NO_HANDLE)
        return false;
    short revents = 0;
    return PollUntil(handle, POLLIN, Clock::now() + std::chrono::milliseconds(timeoutMs),
                     &revents) > 0;
}

int32_t TcpSocket::sendAll(const char* data, int32_t length, int timeoutMs) {
    if (length < 0) {
        errno = EINVAL;
        return -1;
    }
    // Non-blocking sends with a poll in between, so that a peer that stops reading costs at most
    // timeoutMs. Running out of time after a partial send leaves the stream cut mid-message; the
    // caller then drops the connection.
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int32_t done = 0;
    while (done < length) {
        const ssize_t sent = ::send(handle, data + done, static_cast<size_t>(length - done),
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            done += static_cast<int32_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            return -1;
        short revents = 0;
        const int ready = PollUntil(handle, POLLOUT, deadline, &revents);
        if (ready == 0)
            errno = ETIMEDOUT;
        if (ready <= 0)
            return -1;
    }
    return done;
}

bool TcpSocket::setKeepAlive(const KeepAliveTimings& timings) {
    // Linux lets TCP_USER_TIMEOUT decide for the probes too: once a probe is out, the connection
    // ends when the peer has been silent for the user timeout. With the default timings both
    // rules agree (30 s + 3 x 10 s = 60 s), so a quiet and a busy connection end alike.
    const int on = 1;
    const auto userTimeout = static_cast<unsigned int>(timings.userTimeoutMs);
    const bool set =
        ::setsockopt(handle, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
        ::setsockopt(handle, IPPROTO_TCP, TCP_KEEPIDLE, &timings.idleSeconds, sizeof(int)) == 0 &&
        ::setsockopt(handle, IPPROTO_TCP, TCP_KEEPINTVL, &timings.intervalSeconds, sizeof(int)) ==
            0 &&
        ::setsockopt(handle, IPPROTO_TCP, TCP_KEEPCNT, &timings.probeCount, sizeof(int)) == 0 &&
        ::setsockopt(handle, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout) == 0;
    if (!set)
        lastError = describeLastError();
    return set;
}

int32_t TcpSocket::trySend(const char* data, int32_t length) {
    const int32_t sent = SendOnce(handle, data, length, MSG_DONTWAIT);
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return WOULD_BLOCK;
    return sent;
}

int32_t TcpSocket::tryRecv(char* buffer, uint32_t size) {
    ssize_t received;
    do {
        received = ::recv(handle, buffer, size, MSG_DONTWAIT);
    } while (received < 0 && errno == EINTR);
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return WOULD_BLOCK;
    return static_cast<int32_t>(received);
}

bool TcpSocket::limitUnsent(int bytes) {
    // Linux: the socket counts as full once this much waits unsent, however large its buffer
    // grows for the data on its way.
    if (::setsockopt(handle, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &bytes, sizeof bytes) != 0) {
        lastError = describeLastError();
        return false;
    }
    return true;
}
