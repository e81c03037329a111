// Raw loopback peers for tests: a fake host or fake clients speaking bytes, with bounded reads.
#pragma once

#include "tests/support/raw_socket.h"

#include <chrono>
#include <cstdint>
#include <string>

// The program places a port number into the address with its bytes swapped; this is the number
// to give it so that it uses the TCP port tcpPort.
inline uint16_t ProgramPort(uint16_t tcpPort) {
    return static_cast<uint16_t>((tcpPort >> 8) | (tcpPort << 8));
}

// A TCP port on 127.0.0.1 that no other test gets while this object lives, with the port above
// it. The kernel picks a free one (bind to port 0, read the port back), and the sockets, bound but
// never listening, keep them from other binds and from the local ends of outgoing connections. A
// connect to it is refused; the program's own listen still takes it, since both sockets set
// SO_REUSEADDR and this one never listens. Where the program's listener is exclusive (Windows), the
// port is picked the same way but not held (HOLD_RESERVED_PORT).
class ReservedPort {
public:
    ReservedPort() {
        // The port and the one above it, where a room hosted on the port has its file service:
        // another test that picks a port never gets either.
        for (int tries = 0; tries < 100 && above == NO_RAW; ++tries) {
            release();
            fd = bindTo(0);
            if (tcpPort != 65535)
                above = bindTo(static_cast<uint16_t>(tcpPort + 1));
        }
        if (!HOLD_RESERVED_PORT)
            release();
    }
    ~ReservedPort() { release(); }
    ReservedPort(const ReservedPort&) = delete;
    ReservedPort& operator=(const ReservedPort&) = delete;

    // The number the program must be given to use this port.
    uint16_t programPort() const { return ProgramPort(tcpPort); }

    uint16_t tcpPort = 0;

private:
    // A socket bound to the port on 127.0.0.1 (0: one the kernel picks, kept in tcpPort); none
    // when the port is taken.
    RawHandle bindTo(uint16_t port) {
        const RawHandle handle = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        ::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one),
                     sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            CloseRaw(handle);
            return NO_RAW;
        }
        socklen_t length = sizeof address;
        ::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length);
        if (port == 0)
            tcpPort = ntohs(address.sin_port);
        return handle;
    }
    void release() {
        for (RawHandle* handle : {&fd, &above}) {
            if (*handle != NO_RAW)
                CloseRaw(*handle);
            *handle = NO_RAW;
        }
    }

    RawHandle fd = NO_RAW;
    RawHandle above = NO_RAW;
};

// One end of a loopback connection, read with timeouts.
class RawPeer {
public:
    explicit RawPeer(RawHandle handle = NO_RAW) : fd(handle) {}
    RawPeer(RawPeer&& other) noexcept : fd(other.fd), ended(other.ended) {
        received = std::move(other.received);
        other.fd = NO_RAW;
    }
    RawPeer& operator=(RawPeer&& other) noexcept {
        std::swap(fd, other.fd);
        std::swap(ended, other.ended);
        std::swap(received, other.received);
        return *this;
    }
    ~RawPeer() { hangUp(); }

    // Connects to host (127.0.0.1 unless given, in network byte order) on the TCP port tcpPort.
    static RawPeer connectTo(uint16_t tcpPort, uint32_t host = htonl(INADDR_LOOPBACK)) {
        const RawHandle handle = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(tcpPort);
        address.sin_addr.s_addr = host;
        if (::connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            CloseRaw(handle);
            return RawPeer();
        }
        const int one = 1;
        ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
                     sizeof one);
        return RawPeer(handle);
    }

    bool valid() const { return fd != NO_RAW; }
    bool send(const std::string& bytes) {
        const auto sent = ::send(fd, bytes.data(), bytes.size(), RAW_SEND_FLAGS);
        return sent >= 0 && static_cast<size_t>(sent) == bytes.size();
    }
    // Reads until `received` holds at least `count` bytes; false on timeout or end.
    bool readAtLeast(size_t count, int timeoutMs = 5000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (received.size() < count) {
            if (!readSome(deadline))
                return false;
        }
        return true;
    }
    // Reads until `received` contains text; false on timeout or end.
    bool readUntil(const std::string& text, int timeoutMs = 5000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (received.find(text) == std::string::npos) {
            if (!readSome(deadline))
                return false;
        }
        return true;
    }
    // True when the peer closed the connection within timeoutMs (bytes before it are kept).
    bool readEnd(int timeoutMs = 5000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (readSome(deadline)) {
        }
        return ended;
    }
    // Whatever arrives within timeoutMs: a pause that keeps reading. An empty result proves
    // nothing on a slow machine; to show that something did not come, wait for a marker sent
    // after it instead.
    std::string drain(int timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (readSome(deadline)) {
        }
        return take();
    }
    std::string take() {
        std::string all;
        all.swap(received);
        return all;
    }
    void hangUp() {
        if (fd != NO_RAW)
            CloseRaw(fd);
        fd = NO_RAW;
    }
    // Ends the connection with a reset instead of an orderly close.
    void reset() {
        linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
        hangUp();
    }
    RawHandle handle() const { return fd; }

    std::string received;

private:
    bool readSome(std::chrono::steady_clock::time_point deadline) {
        if (fd == NO_RAW || ended)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd watched{fd, POLLIN, 0};
        if (PollRaw(&watched, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char chunk[4096];
        const auto n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            ended = true;
            return false;
        }
        received.append(chunk, static_cast<size_t>(n));
        return true;
    }

    RawHandle fd;
    bool ended = false;
};

// A listening socket for a fake host, on 127.0.0.1 unless given another local address.
class RawListener {
public:
    // On port (0: one the kernel picks) of host.
    explicit RawListener(uint32_t host = htonl(INADDR_LOOPBACK), uint16_t port = 0) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = host;
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd, 16);
        socklen_t length = sizeof address;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        tcpPort = ntohs(address.sin_port);
    }
    ~RawListener() { CloseRaw(fd); }
    RawListener(const RawListener&) = delete;
    RawListener& operator=(const RawListener&) = delete;

    // The number the program must be given to reach this listener.
    uint16_t programPort() const { return ProgramPort(tcpPort); }
    // The next connection, or an invalid peer after timeoutMs.
    RawPeer accept(int timeoutMs = 5000) {
        pollfd watched{fd, POLLIN, 0};
        if (PollRaw(&watched, 1, timeoutMs) <= 0)
            return RawPeer();
        return RawPeer(::accept(fd, nullptr, nullptr));
    }

    RawHandle fd;
    uint16_t tcpPort = 0;
};
