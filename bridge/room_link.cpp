// The bridge's room connection: connect and log in, read whole messages, send paced by the
// connection itself.
#include "bridge/room_link.h"

#include "bridge/dial.h"
#include "net/keep_alive_timings.h"

std::unique_ptr<TcpSocket> RoomLink::dial(const std::string& address, uint16_t port, int timeoutMs,
                                          std::string& error) {
    std::unique_ptr<TcpSocket> connection = DialWithin(address, port, timeoutMs, error);
    // The keep-alive every chat connection has, so that a room whose machine vanished is noticed
    // within about a minute.
    if (connection)
        connection->setKeepAlive(KeepAliveTimings());
    return connection;
}

void RoomLink::begin(std::unique_ptr<TcpSocket> connection, Clock::time_point now) {
    socket = std::move(connection);
    framer.reset();
    outbox = session.start(now);
}

bool RoomLink::receive(Clock::time_point now, std::vector<RoomEvent>& events) {
    const auto deliver = [&](char* bytes, int32_t count) {
        BlockParser parser(bytes, static_cast<size_t>(count), Receiver::Client);
        Message message;
        while (parser.next(message))
            session.receive(message, now, events);
    };
    const int32_t n = socket->recv(framer.space(), framer.spaceSize());
    if (n <= 0) {
        framer.flush(deliver);
        drop(n == 0 ? "the room closed the connection" : TcpSocket::describeLastError());
        return false;
    }
    framer.received(static_cast<uint32_t>(n), deliver,
                    [this](int ms) { return socket->waitReadable(ms); });
    return true;
}

bool RoomLink::flush() {
    if (outbox.empty())
        return true;
    const int32_t sent = socket->trySend(outbox.data(), static_cast<int32_t>(outbox.size()));
    if (sent == TcpSocket::WOULD_BLOCK)
        return true;
    if (sent < 0) {
        drop(TcpSocket::describeLastError());
        return false;
    }
    outbox.erase(0, static_cast<size_t>(sent));
    return true;
}

void RoomLink::say(std::string_view text) {
    if (socket)
        outbox += session.say(text);
}

void RoomLink::close(int timeoutMs) {
    if (!socket)
        return;
    outbox += CLIENT_LOGOFF;
    socket->sendAll(outbox.data(), static_cast<int32_t>(outbox.size()), timeoutMs);
    drop("closed");
}

void RoomLink::drop(const std::string& reason) {
    lastError = reason;
    socket.reset();
    outbox.clear();
}
