// TcpSocket: the operations that are the same on every platform, over the BSD socket calls both
// backends have; net/posix/ and net/winsock/ hold the calls that differ.
#include "net/tcp_socket.h"

#include "net/socket_errors.h"
#include "net/wire_port.h"

#include <cstring>

// After socket_errors.h: the Winsock headers define some of its names as macros.
#include "net/socket_backend.h"

namespace SocketBackend {

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::string DottedText(in_addr address) {
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &address, text, sizeof text) == nullptr)
        return {};
    return text;
}

} // namespace SocketBackend

using namespace SocketBackend;

namespace {

// host is in network order; the port goes in as WirePort places it.
sockaddr_in MakeAddress(uint32_t host, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = WirePort(port);
    address.sin_addr.s_addr = host;
    return address;
}

} // namespace

TcpSocket::TcpSocket() {
    if (!StartLibrary())
        lastError = describeLastError();
}

TcpSocket::TcpSocket(SocketHandle ownedHandle) : TcpSocket() {
    handle = ownedHandle;
}

TcpSocket::~TcpSocket() {
    // A socket that was never opened or is already closed fails here harmlessly.
    (void)close();
}

std::unique_ptr<TcpSocket> TcpSocket::createStream() {
    // The library must be up before the first socket call, which comes before the TcpSocket.
    if (!StartLibrary()) {
        auto socket = std::make_unique<TcpSocket>();
        socket->lastError = describeLastError();
        return socket;
    }
    auto socket = std::make_unique<TcpSocket>(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (socket->handle == NO_HANDLE)
        socket->lastError = describeLastError();
    return socket;
}

bool TcpSocket::failWithoutHandle() {
    if (lastError.empty()) {
        SetLastSocketError(NO_SOCKET_CODE);
        lastError = describeLastError();
    }
    return false;
}

void TcpSocket::markOpen() {
    open = true;
}

void TcpSocket::markClosed() {
    open = false;
    address.clear();
    port = 0;
}

bool TcpSocket::connect(const std::string& newAddress, uint16_t newPort) {
    return connectWithin(newAddress, newPort, CONNECT_TIMEOUT_MS);
}

bool TcpSocket::connectWithin(const std::string& newAddress, uint16_t newPort, int timeoutMs) {
    if (timeoutMs <= 0) {
        SetLastSocketError(TIMED_OUT_CODE);
        lastError = describeLastError();
        return false;
    }
    if (handle == NO_HANDLE)
        return failWithoutHandle();
    // No validation: a text inet_addr cannot read becomes the all-ones address, and the attempt
    // fails on its own.
    const sockaddr_in target = MakeAddress(::inet_addr(newAddress.c_str()), newPort);
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
    if (!ClaimListenPort(handle)) {
        lastError = describeLastError();
        return false;
    }
    const sockaddr_in local = MakeAddress(htonl(INADDR_ANY), newPort);
    // A failed bind must not go on to listen: on an unbound socket that would pick a random port.
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        lastError = describeLastError();
        return false;
    }
    if (::listen(handle, backlog) != 0) {
        lastError = describeLastError();
        return false;
    }
    markOpen();
    port = newPort;
    return true;
}

bool TcpSocket::close() {
    if (handle == NO_HANDLE) {
        SetLastSocketError(NO_SOCKET_CODE);
        lastError = describeLastError();
        return false;
    }
    // A failed shutdown is reported, but the handle is released all the same: callers drop the
    // handle after a failed close, and keeping it would leak it. Only open, address and port stay
    // as they were on failure.
    bool closed = true;
    if (!ShutDownSending(handle)) {
        lastError = describeLastError();
        closed = false;
    }
    if (!CloseSocketHandle(handle) && closed) {
        lastError = describeLastError();
        closed = false;
    }
    handle = NO_HANDLE;
    if (closed)
        markClosed();
    return closed;
}

int32_t TcpSocket::recv(char* buffer, uint32_t size) {
    // The zero fill lets callers treat any reception shorter than the buffer as terminated text.
    std::memset(buffer, 0, size);
    return receive(buffer, size);
}

std::string TcpSocket::describeLastError() {
    std::string text = SocketErrorText(LastSocketErrorKey());
    if (text.empty())
        SetLastSocketError(0);
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

std::string TcpSocket::emptyLookup(const std::string&) {
    return {};
}

std::string TcpSocket::localHostName() {
    char name[255] = {};
    if (::gethostname(name, sizeof name) != 0)
        return {};
    // gethostname need not terminate a name that fills the buffer.
    name[sizeof name - 1] = '\0';
    return name;
}

std::string TcpSocket::localAddress() {
    sockaddr_in local{};
    AddressLength length = sizeof local;
    if (::getsockname(handle, reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
        local.sin_family != AF_INET)
        return {};
    return DottedText(local.sin_addr);
}

void TcpSocket::setNoDelay() {
    const int on = 1;
    ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}
