// The bridge's IRC connection: registering, reading lines, and sending at the server's pace.
#include "bridge/irc_link.h"

#include "net/socket_poll.h"

IrcLink::IrcLink(std::string nick, std::string channel, SendPacer linePacer)
    : session(std::move(nick), std::move(channel)), pacer(linePacer) {}

std::unique_ptr<IrcTransport> IrcLink::dial(const std::string& host, uint16_t tcpPort, bool tls,
                                            const TlsSettings& tlsSettings, int timeoutMs,
                                            std::string& error) {
    std::unique_ptr<IrcTransport> connection =
        tls ? MakeTlsTransport(tlsSettings) : MakePlainTransport();
    if (!connection) {
        error = "this build has no TLS";
        return nullptr;
    }
    if (!connection->open(host, tcpPort, timeoutMs)) {
        error = connection->lastError;
        return nullptr;
    }
    return connection;
}

void IrcLink::begin(std::unique_ptr<IrcTransport> connection, Clock::time_point now) {
    transport = std::move(connection);
    received.clear();
    outbox.clear();
    lastHeard = now;
    askedIfThere = false;
    pacer.reset(now);
    for (const std::string& line : session.start())
        send(line, now);
}

bool IrcLink::receive(Clock::time_point now, std::vector<IrcEvent>& events) {
    char buffer[4096];
    // TLS may hold more than one read gives; plain TCP is read once per readiness.
    do {
        const int32_t n = transport->read(buffer, sizeof buffer);
        if (n == IrcTransport::WOULD_BLOCK)
            break;
        if (n <= 0) {
            drop(n == 0 ? "the server closed the connection" : transport->lastError);
            return false;
        }
        lastHeard = now;
        askedIfThere = false;
        received.append(buffer, static_cast<size_t>(n));
    } while (transport->hasBufferedInput());
    std::string line;
    std::vector<std::string> replies;
    while (received.next(line))
        session.receive(line, now, replies, events);
    for (const std::string& reply : replies)
        send(reply, now);
    return true;
}

bool IrcLink::flush() {
    while (!outbox.empty()) {
        const int32_t sent = transport->write(outbox.data(), outbox.size());
        if (sent == IrcTransport::WOULD_BLOCK)
            return true;
        if (sent < 0) {
            drop(transport->lastError);
            return false;
        }
        outbox.erase(0, static_cast<size_t>(sent));
    }
    return true;
}

bool IrcLink::tick(Clock::time_point now) {
    std::vector<std::string> due;
    session.tick(now, due);
    for (const std::string& line : due)
        send(line, now);
    if (now - lastHeard >= 2 * QUIET_LIMIT) {
        drop("no answer from the server for " +
             std::to_string(
                 std::chrono::duration_cast<std::chrono::seconds>(2 * QUIET_LIMIT).count()) +
             " s");
        return false;
    }
    if (now - lastHeard >= QUIET_LIMIT && !askedIfThere) {
        askedIfThere = true;
        send("PING :parlox", now);
    }
    return true;
}

IrcLink::Clock::time_point IrcLink::nextDue(bool lineWaiting) const {
    Clock::time_point due = std::min(session.nextTick(), lastHeard + QUIET_LIMIT);
    if (askedIfThere)
        due = std::min(due, lastHeard + 2 * QUIET_LIMIT);
    if (lineWaiting && session.joined())
        due = std::min(due, pacer.readyAt());
    return due;
}

bool IrcLink::maySay(Clock::time_point now) const {
    return session.joined() && pacer.ready(now) && outbox.empty();
}

void IrcLink::say(std::string_view text, Clock::time_point now) {
    send(session.privmsg(text), now);
}

void IrcLink::send(const std::string& line, Clock::time_point now) {
    outbox += line;
    outbox += "\r\n";
    pacer.sent(now);
}

void IrcLink::close(const std::string& goodbye, int timeoutMs) {
    if (!transport)
        return;
    send("QUIT :" + goodbye, Clock::now());
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!outbox.empty() && flush()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        PollEntry entry{transport->handle(), transport->pollEvents(true), 0};
        if (left.count() <= 0 || PollSockets(&entry, 1, static_cast<int>(left.count())) <= 0)
            break;
    }
    drop("closed");
}

void IrcLink::drop(const std::string& reason) {
    lastError = reason;
    if (transport)
        transport->close();
    transport.reset();
    outbox.clear();
}
