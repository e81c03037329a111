// TcpSocket: the one Socket implementation, over the platform's stream sockets. net/tcp_socket.cpp
// holds what every platform shares; net/posix/ and net/winsock/ the calls that differ.
#pragma once

#include "net/keep_alive_timings.h"
#include "net/socket.h"
#include "net/socket_handle.h"

#include <memory>

class TcpSocket final : public Socket {
public:
    SocketHandle handle = NO_HANDLE;         // the handle this object owns and closes
    SocketHandle acceptedHandle = NO_HANDLE; // what the last accept returned; the caller takes it
    // Set by every accept: true when it failed for want of descriptors or memory, which lasts
    // until something is freed, so that retrying at once would only spin.
    bool outOfResources = false;

    TcpSocket();
    explicit TcpSocket(SocketHandle handle);
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    void markOpen() override;
    void markClosed() override;
    // Gives up after CONNECT_TIMEOUT_MS with the WSAETIMEDOUT text, so that an unreachable
    // address never freezes the caller for the system's two-minute SYN retry.
    bool connect(const std::string& address, uint16_t port) override;
    // Claims the port first so that a room can be reopened on a port whose old connections still
    // sit in TIME_WAIT, while a port another program listens on still fails.
    bool listen(uint16_t port) override;
    bool close() override;
    int32_t send(const char* data, int32_t length) override;
    int32_t recv(char* buffer, uint32_t size) override;
    std::string resolveHost(const std::string& name) override;
    std::string emptyLookup(const std::string& text) override;
    std::string localHostName() override;
    std::string localAddressList() override;
    std::string localAddress() override;

    // connect with a time limit of its own; a limit of 0 or less fails at once with the
    // WSAETIMEDOUT text.
    [[nodiscard]] bool connectWithin(const std::string& address, uint16_t port, int timeoutMs);
    // resolveHost that waits no longer than timeoutMs. False only when the time ran out (with the
    // WSAETIMEDOUT text in lastError); otherwise dotted holds the answer, empty when the lookup
    // failed.
    [[nodiscard]] bool resolveHostWithin(const std::string& name, int timeoutMs,
                                         std::string& dotted);

    [[nodiscard]] bool accept();
    static std::string describeLastError();

    // A new IPv4 stream socket, not yet connected or listening. When the platform cannot make one,
    // its handle is none and lastError says why; connect and listen then fail keeping that text.
    static std::unique_ptr<TcpSocket> createStream();

    // Members outside the interface.

    // Wakes a recv/poll blocked on this socket in another thread by shutting the connection down
    // in both directions; the descriptor stays owned and open. Closing alone would not wake a
    // blocked thread on Linux.
    void wake();
    // Waits up to timeoutMs for bytes (or the end of the connection) to be readable.
    [[nodiscard]] bool waitReadable(int timeoutMs);
    // Sends all of data, retrying partial sends and EINTR, but waits no longer than timeoutMs in
    // all for the peer to take it. Returns length, or -1 on error or when the time ran out.
    int32_t sendAll(const char* data, int32_t length, int timeoutMs);
    // recv without its zero fill, for bytes that are no text (a file's): what has arrived, up to
    // size bytes; 0 at the end; -1 on failure. Per platform.
    int32_t receive(char* buffer, uint32_t size);
    // A chat line must never wait for a delayed acknowledgement.
    void setNoDelay();
    // Turns keep-alive probes and the unacknowledged-data limit on, so that a peer that vanished
    // ends the connection (a failed recv) within about the timings' bound, quiet room or busy.
    // False, with lastError set, when the platform refused one of the options.
    bool setKeepAlive(const KeepAliveTimings& timings);
    // One send that never blocks: the count the platform took, WOULD_BLOCK when the connection
    // takes nothing right now (the peer's window is full), or -1 when it failed.
    int32_t trySend(const char* data, int32_t length);
    // One receive that never blocks: the count received, 0 at the end of the connection,
    // WOULD_BLOCK when nothing waits, or -1 when it failed. Unlike recv, the buffer is not
    // zero-filled.
    int32_t tryRecv(char* buffer, uint32_t size);
    static constexpr int32_t WOULD_BLOCK = -2;
    // Keeps at most about `bytes` in the system's buffer that the peer has not been sent yet:
    // what waits beyond that stays with the caller, who can still order it, rather than in a
    // queue the system sends first. Best effort: false when the platform refused.
    bool limitUnsent(int bytes);

    static constexpr int CONNECT_TIMEOUT_MS = 5000;

private:
    // For connect and listen on a socket whose creation failed: false, keeping the creation's
    // error text (or saying the handle is invalid).
    bool failWithoutHandle();
};

// The program-wide socket used only for host-name and address lookups.
extern TcpSocket LookupSocket;

// Whether text has the shape of a dotted IPv4 address (strtok/atoi rules, so "abc" passes).
bool IsDottedQuad(const std::string& text);
