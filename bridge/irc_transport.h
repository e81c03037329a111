// IrcTransport: the byte stream to an IRC server, plain TCP or TLS. The bridge polls handle()
// for pollEvents() and then reads or writes without ever blocking.
#pragma once

#include "net/socket_handle.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class IrcTransport {
public:
    static constexpr int32_t WOULD_BLOCK = -2; // nothing now: poll again
    static constexpr int32_t FAILED = -1;      // the connection is unusable; lastError says why

    virtual ~IrcTransport() = default;

    // Connects to host (a name or a dotted address) on the ordinary TCP port, with the TLS
    // handshake and the certificate's check where there is one, all within timeoutMs.
    virtual bool open(const std::string& host, uint16_t tcpPort, int timeoutMs) = 0;
    virtual SocketHandle handle() const = 0;
    // What to poll handle() for: readable always; writable when the caller has bytes to write or
    // the transport's own progress needs it.
    virtual unsigned pollEvents(bool haveBytesToWrite) const = 0;
    // Bytes read (> 0), 0 at the end of the stream, WOULD_BLOCK or FAILED.
    virtual int32_t read(char* buffer, size_t size) = 0;
    // Whether bytes are already waiting inside the transport, which polling would not show.
    virtual bool hasBufferedInput() const = 0;
    // Bytes taken (> 0), WOULD_BLOCK or FAILED.
    virtual int32_t write(const char* bytes, size_t count) = 0;
    // Ends the connection (a TLS close notice when it can go at once) and releases the socket.
    virtual void close() = 0;

    std::string lastError;
};

// Plain TCP: everything crosses the network as it is.
std::unique_ptr<IrcTransport> MakePlainTransport();

// What TLS checks about the server.
struct TlsSettings {
    std::string caFile;      // trusted certificates; empty: the system's store
    std::string fingerprint; // the SHA-256 of the server's certificate (64 hex digits); when
                             // set, that certificate and nothing else is accepted
};

// TLS over TCP from the platform's TLS library; none where the build has no TLS backend.
std::unique_ptr<IrcTransport> MakeTlsTransport(const TlsSettings& settings);
