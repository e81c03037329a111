// RoomLink: the bridge's connection to a room: the socket, the receive buffer that hands the
// host's messages over whole, what waits to be sent, and the RoomSession that reads them.
#pragma once

#include "bridge/room_session.h"
#include "net/tcp_socket.h"
#include "wire/message_framer.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

class RoomLink {
public:
    using Clock = std::chrono::steady_clock;

    explicit RoomLink(std::string name) : session(std::move(name)) {}

    // A connection to the room at the address and typed port, made within timeoutMs, or none
    // with the reason in error. Touches no link: any thread may dial.
    static std::unique_ptr<TcpSocket> dial(const std::string& address, uint16_t port, int timeoutMs,
                                           std::string& error);
    // Takes the connection dialled and logs in.
    void begin(std::unique_ptr<TcpSocket> connection, Clock::time_point now);
    bool isOpen() const { return socket != nullptr; }
    SocketHandle handle() const { return socket ? socket->handle : NO_HANDLE; }
    bool wantsWrite() const { return !outbox.empty(); }

    // The socket is readable: reads once and adds what the host said to events. False when the
    // connection ended (the link is closed then, lastError says why).
    bool receive(Clock::time_point now, std::vector<RoomEvent>& events);
    // The socket is writable: sends what it takes. False when the connection failed (closed).
    bool flush();
    // Queues a line to say in the room.
    void say(std::string_view text);
    // Bytes queued and not yet taken by the connection.
    size_t backlog() const { return outbox.size(); }
    // Logs off, sending what is queued within timeoutMs, and closes.
    void close(int timeoutMs);
    // Closes at once, without a word (the host has ended the room); lastError becomes reason.
    void drop(const std::string& reason);

    std::string lastError;

private:
    std::unique_ptr<TcpSocket> socket;
    MessageFramer framer{Receiver::Client};
    RoomSession session;
    std::string outbox;
};
