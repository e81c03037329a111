// IrcLink: the bridge's connection to an IRC server: the transport, the received lines, what
// waits to be sent, the pace of the channel's lines, and the IrcSession that reads them.
#pragma once

#include "bridge/irc_session.h"
#include "bridge/irc_transport.h"
#include "irc/irc_line_buffer.h"
#include "irc/send_pacer.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

class IrcLink {
public:
    using Clock = std::chrono::steady_clock;
    // A server that has said nothing for this long is asked whether it is still there; one that
    // says nothing for twice as long is taken for gone.
    static constexpr auto QUIET_LIMIT = std::chrono::seconds(120);

    IrcLink(std::string nick, std::string channel, SendPacer pacer);

    // A connection to the server, plain or TLS (the handshake and the certificate's check
    // included), made within timeoutMs, or none with the reason in error. Touches no link: any
    // thread may dial.
    static std::unique_ptr<IrcTransport> dial(const std::string& host, uint16_t tcpPort, bool tls,
                                              const TlsSettings& tlsSettings, int timeoutMs,
                                              std::string& error);
    // Takes the connection dialled and registers.
    void begin(std::unique_ptr<IrcTransport> connection, Clock::time_point now);
    bool isOpen() const { return transport != nullptr; }
    SocketHandle handle() const { return transport ? transport->handle() : NO_HANDLE; }
    unsigned pollEvents() const { return transport->pollEvents(!outbox.empty()); }
    bool hasBufferedInput() const { return transport && transport->hasBufferedInput(); }

    // The transport is ready: reads what is there, answers the server and adds the events. False
    // when the connection ended (the link is closed then, lastError says why).
    bool receive(Clock::time_point now, std::vector<IrcEvent>& events);
    // Writes what the connection takes. False when it failed (closed).
    bool flush();
    // Rejoins, asks for the wanted nick and checks the server is still there, as due by now.
    // False when the server is taken for gone (closed).
    bool tick(Clock::time_point now);
    // When tick() or a paced line is due next.
    Clock::time_point nextDue(bool lineWaiting) const;

    // Whether a line may be said in the channel now: joined, the pace allows it, and the
    // connection has taken what was said before.
    bool maySay(Clock::time_point now) const;
    void say(std::string_view text, Clock::time_point now);
    size_t textRoom() const { return session.textRoom(); }
    const std::string& nick() const { return session.nick(); }
    const std::string& channel() const { return session.channel(); }

    // Says goodbye (QUIT), sending what is queued within timeoutMs, and closes.
    void close(const std::string& goodbye, int timeoutMs);

    std::string lastError;

private:
    void send(const std::string& line, Clock::time_point now);
    void drop(const std::string& reason);

    std::unique_ptr<IrcTransport> transport;
    IrcLineBuffer received;
    IrcSession session;
    SendPacer pacer;
    std::string outbox;
    Clock::time_point lastHeard{};
    bool askedIfThere = false;
};
