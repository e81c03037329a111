// TcpSocket: blocking TCP over POSIX sockets, with the lookups the window needs.
#include "net/tcp_socket.h"

#include "net/socket_errors.h"
#include "net/wire_port.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in MakeAddress(in_addr_t host, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = WirePort(port);
    address.sin_addr.s_addr = host;
    return address;
}

std::string DottedText(in_addr address) {
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &address, text, sizeof text) == nullptr)
        return {};
    return text;
}

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

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

// A blocking connect that gives up at the deadline: non-blocking connect, wait for the outcome,
// then back to blocking mode for everything that follows.
bool ConnectWithin(int handle, const sockaddr_in& address, int timeoutMs) {
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

// Library start-up: POSIX sockets need none, so construction cannot fail.
TcpSocket::TcpSocket() = default;

TcpSocket::TcpSocket(SocketHandle ownedHandle) : handle(ownedHandle) {}

std::unique_ptr<TcpSocket> TcpSocket::createStream() {
    auto socket = std::make_unique<TcpSocket>(::socket(AF_INET, SOCK_STREAM, 0));
    if (socket->handle == NO_HANDLE)
        socket->lastError = describeLastError();
    return socket;
}

bool TcpSocket::failWithoutHandle() {
    if (lastError.empty()) {
        errno = EBADF;
        lastError = describeLastError();
    }
    return false;
}

bool TcpSocket::connectWithin(const std::string& newAddress, uint16_t newPort, int timeoutMs) {
    if (timeoutMs <= 0) {
        errno = ETIMEDOUT;
        lastError = describeLastError();
        return false;
    }
    if (handle == NO_HANDLE)
        return failWithoutHandle();
    // No validation: a text inet_addr cannot read becomes the all-ones address, and the attempt
    // fails on its own.
    const sockaddr_in target = MakeAddress(inet_addr(newAddress.c_str()), newPort);
    if (!ConnectWithin(handle, target, timeoutMs)) {
        lastError = describeLastError();
        return false;
    }
    markOpen();
    address = newAddress;
    port = newPort;
    return true;
}

bool TcpSocket::listen(uint16_t newPort) {
    if (handle == NO_HANDLE)
        return failWithoutHandle();
    const int reuse = 1;
    if (::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) < 0) {
        lastError = describeLastError();
        return false;
    }
    const sockaddr_in local = MakeAddress(htonl(INADDR_ANY), newPort);
    // A failed bind must not go on to listen: on an unbound socket that would pick a random port.
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0) {
        lastError = describeLastError();
        return false;
    }
    if (::listen(handle, backlog) < 0) {
        lastError = describeLastError();
        return false;
    }
    markOpen();
    port = newPort;
    return true;
}

bool TcpSocket::close() {
    if (handle == NO_HANDLE) {
        errno = EBADF;
        lastError = describeLastError();
        return false;
    }
    // ENOTCONN means no connection is left to shut down: never connected, reset by the peer, or
    // already in TIME_WAIT after both sides sent their FIN (Linux reports the last two as not
    // connected); that is no failure. Any other failed shutdown is reported, but the descriptor
    // is released all the same: callers drop the handle after a failed close, and keeping it
    // would leak it.
    bool closed = true;
    if (::shutdown(handle, SHUT_WR) < 0 && errno != ENOTCONN) {
        lastError = describeLastError();
        closed = false;
    }
    // Never retried: on Linux the descriptor is gone even when close reports EINTR or EIO, and a
    // second close could hit a descriptor that another thread has just been given. So the handle
    // is dropped either way; only open, address and port stay as they were on failure.
    if (::close(handle) < 0 && closed) {
        lastError = describeLastError();
        closed = false;
    }
    handle = NO_HANDLE;
    if (closed)
        markClosed();
    return closed;
}

int32_t TcpSocket::send(const char* data, int32_t length) {
    return SendOnce(handle, data, length, 0);
}

int32_t TcpSocket::recv(char* buffer, uint32_t size) {
    // The zero fill lets callers treat any reception shorter than the buffer as terminated text.
    std::memset(buffer, 0, size);
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

std::string TcpSocket::describeLastError() {
    std::string text = SocketErrorText(WsaCodeForErrno(errno));
    if (text.empty())
        errno = 0;
    return text;
}

std::string TcpSocket::resolveHost(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* answer = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &answer) != 0)
        return {};
    std::string result;
    if (answer != nullptr && answer->ai_addr != nullptr && answer->ai_family == AF_INET)
        result = DottedText(reinterpret_cast<const sockaddr_in*>(answer->ai_addr)->sin_addr);
    ::freeaddrinfo(answer);
    return result;
}

std::string TcpSocket::localHostName() {
    char name[255] = {};
    if (::gethostname(name, sizeof name) < 0)
        return {};
    // gethostname need not terminate a name that fills the buffer.
    name[sizeof name - 1] = '\0';
    return name;
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

std::string TcpSocket::localAddress() {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(handle, reinterpret_cast<sockaddr*>(&local), &length) < 0 ||
        local.sin_family != AF_INET)
        return {};
    return DottedText(local.sin_addr);
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

void TcpSocket::setNoDelay() {
    const int on = 1;
    ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
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
