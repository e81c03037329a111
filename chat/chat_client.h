// ChatClient: the client end of one chat connection, with its receive loop on a worker thread.
#pragma once

#include "net/tcp_socket.h"
#include "net/thread.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class ChatClient;

// Receives every whole message block (bytes followed by a zero byte; the handler may write into
// them up to that byte and keeps no pointer into them).
using ClientDataHandler = void (*)(char* bytes, int32_t count);
// Told, on the receive thread, that the connection ended other than by the client's own close.
using ClientLostHandler = void (*)(ChatClient* client);

class ChatClient final : public Thread {
public:
    // A send that the host does not take within this time ends the connection.
    static constexpr int SEND_TIMEOUT_MS = 2000;

    explicit ChatClient(ClientDataHandler handler = nullptr,
                        ClientLostHandler lostHandler = nullptr);
    ~ChatClient() override;

    // Ends any current connection, then connects and starts the receive thread.
    [[nodiscard]] bool connect(const std::string& address, uint16_t port);
    // The two halves of connect, for a caller that must show the connection before anything
    // received: dial ends any current connection and connects within timeoutMs without starting
    // the receive thread; startReceiving starts it.
    [[nodiscard]] bool dial(const std::string& address, uint16_t port, int timeoutMs);
    void startReceiving();
    // Sends the text's bytes (without its terminator); -1 without a connection or on failure.
    int32_t send(const char* text);
    // Ends the connection and the receive loop. From another thread it waits for the loop; from the
    // receive thread itself (a handler closing its own client) it returns at once.
    void close();
    std::string lastError();

    // The client whose receive loop runs on the calling thread, or none.
    static ChatClient* current();

    void run() override;

private:
    std::unique_ptr<TcpSocket> takeConnection();

    // Guards `connection`: taking the socket out, and every use of it except the receive itself.
    // Taken after ChatLock, never before; never held while waiting for the receive thread.
    std::mutex mutex;
    std::unique_ptr<TcpSocket> connection;
    const ClientDataHandler handler;
    const ClientLostHandler lostHandler;
};
