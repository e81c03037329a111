// The chat client: connect, send, close, and the receive loop that hands whole messages on.
#include "chat/chat_client.h"

#include "chat/keep_alive.h"
#include "wire/message_framer.h"

#include <cstring>

namespace {
thread_local ChatClient* CurrentClient = nullptr;
}

ChatClient::ChatClient(ClientDataHandler dataHandler, ClientLostHandler onLost)
    : handler(dataHandler), lostHandler(onLost) {}

ChatClient::~ChatClient() {
    close();
    stop();
}

ChatClient* ChatClient::current() {
    return CurrentClient;
}

std::unique_ptr<TcpSocket> ChatClient::takeConnection() {
    std::lock_guard<std::mutex> guard(mutex);
    return std::move(connection);
}

bool ChatClient::connect(const std::string& address, uint16_t port) {
    if (!dial(address, port, TcpSocket::CONNECT_TIMEOUT_MS))
        return false;
    startReceiving();
    return true;
}

bool ChatClient::dial(const std::string& address, uint16_t port, int timeoutMs) {
    close();
    std::unique_ptr<TcpSocket> socket = TcpSocket::createStream();
    const bool connected = socket->connectWithin(address, port, timeoutMs);
    if (connected) {
        socket->setNoDelay();
        socket->setKeepAlive(ChatKeepAlive);
    }
    std::lock_guard<std::mutex> guard(mutex);
    connection = std::move(socket);
    return connected;
}

void ChatClient::startReceiving() {
    start();
}

int32_t ChatClient::send(const char* text) {
    std::lock_guard<std::mutex> guard(mutex);
    if (!connection)
        return -1;
    const auto length = static_cast<int32_t>(std::strlen(text));
    const int32_t sent = connection->sendAll(text, length, SEND_TIMEOUT_MS);
    // A host that takes nothing for this long is treated as gone: waking the receive loop ends
    // the connection, which then shows as lost.
    if (sent < 0 && connection->open)
        connection->wake();
    return sent;
}

void ChatClient::close() {
    std::unique_ptr<TcpSocket> socket = takeConnection();
    if (!socket)
        return;
    // Wake the receive loop first and wait for it (unless this is that loop), so that it never
    // receives on a released descriptor.
    socket->wake();
    stop();
    (void)socket->close();
}

std::string ChatClient::lastError() {
    std::lock_guard<std::mutex> guard(mutex);
    return connection ? connection->lastError : std::string();
}

void ChatClient::run() {
    CurrentClient = this;
    MessageFramer framer(Receiver::Client);
    auto deliver = [this](char* bytes, int32_t count) {
        if (handler)
            handler(bytes, count);
    };
    for (;;) {
        TcpSocket* socket;
        {
            std::lock_guard<std::mutex> guard(mutex);
            socket = connection.get();
        }
        // No socket: close() took it, possibly from inside the handler.
        if (!socket)
            break;
        // The socket stays alive while this loop may use it: whoever takes it out of
        // `connection` on another thread wakes this loop and waits for it before destroying it.
        const int32_t received = socket->recv(framer.space(), framer.spaceSize());
        if (received > 0) {
            framer.received(static_cast<uint32_t>(received), deliver,
                            [socket](int ms) { return socket->waitReadable(ms); });
            continue;
        }
        std::unique_ptr<TcpSocket> ended;
        {
            std::lock_guard<std::mutex> guard(mutex);
            if (connection.get() == socket)
                ended = std::move(connection);
        }
        if (!ended)
            break; // a closing thread owns the socket now
        // The connection ended from the other side: hand over what was still held back, then
        // tell the owner.
        framer.flush(deliver);
        (void)ended->close();
        ended.reset();
        if (lostHandler)
            lostHandler(this);
        break;
    }
    stop(); // on its own thread: returns at once, the record is released by the owner
    CurrentClient = nullptr;
}
