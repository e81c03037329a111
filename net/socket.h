// Socket: the blocking TCP socket interface that every connection of the chat goes through.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

class Socket {
public:
    // Read by other threads (the accept loop polls the listener's flag while the window stops
    // the server), hence atomic.
    std::atomic<bool> open{false};
    std::string address;         // the address text of the last successful connect
    uint16_t port = 0;           // the port number as typed, never byte-swapped
    uint16_t backlog = 10;       // the listen queue length
    uint32_t maxConnections = 0; // slot count of the owner of a listening socket
    std::string lastError;       // text of the most recent failure; a success never clears it

    // The interface's twelve operations, in this order.
    virtual void markOpen() = 0;
    virtual void markClosed() = 0;
    virtual bool connect(const std::string& address, uint16_t port) = 0;
    virtual bool listen(uint16_t port) = 0;
    virtual bool close() = 0;
    virtual int32_t send(const char* data, int32_t length) = 0;
    virtual int32_t recv(char* buffer, uint32_t size) = 0;
    virtual std::string resolveHost(const std::string& name) = 0;
    virtual std::string emptyLookup(const std::string& text) = 0;
    virtual std::string localHostName() = 0;
    virtual std::string localAddressList() = 0;
    virtual std::string localAddress() = 0;

protected:
    Socket() = default;
    // Owners destroy sockets through the concrete type, never through this interface.
    ~Socket() = default;
};
