// IrcSession: the bridge's side of one IRC connection as a conversation of lines: registering
// under a free nick, joining the channel and staying in it, answering the server, and telling
// the bridge what was said and who came and went. No sockets: lines in, lines out.
#pragma once

#include "irc/irc_message.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

struct IrcEvent {
    enum class Kind {
        Line,    // nick said text in the channel
        Action,  // nick did text (CTCP ACTION, "/me")
        Entry,   // nick joined the channel
        Exit,    // nick left the channel (part, quit or kick)
        Renamed, // nick is now text
        Joined,  // the bridge is in the channel
        Problem, // a refusal or error from the server, in text, for the operator
    };
    Kind kind;
    std::string nick;
    std::string text;
};

class IrcSession {
public:
    using Clock = std::chrono::steady_clock;
    // The nick length every server accepts; alternates are kept within it until the server says
    // its own (NICKLEN).
    static constexpr size_t SAFE_NICK_LENGTH = 9;
    // After a kick or a refused JOIN, the channel is tried again this much later.
    static constexpr auto REJOIN_WAIT = std::chrono::seconds(10);
    // While the bridge goes by an alternate, it asks for the nick it wants this often.
    static constexpr auto REGAIN_WAIT = std::chrono::seconds(60);

    IrcSession(std::string wantedNick, std::string channel);

    // A new connection: forgets the last one and gives the registration lines.
    std::vector<std::string> start();
    // One line from the server (without CR LF): the lines to send back at once, and the events.
    void receive(std::string_view line, Clock::time_point now, std::vector<std::string>& replies,
                 std::vector<IrcEvent>& events);
    // Lines due by now (a rejoin, a try for the wanted nick), and when the next is due.
    void tick(Clock::time_point now, std::vector<std::string>& replies);
    Clock::time_point nextTick() const;

    bool joined() const { return inChannel; }
    const std::string& nick() const { return currentNick; }
    const std::string& channel() const { return channelName; }
    // The PRIVMSG that says text in the channel, without CR LF.
    std::string privmsg(std::string_view text) const;
    // How many bytes of text a PRIVMSG may carry so that it stays within 512 bytes as the server
    // relays it, with the bridge's full prefix in front.
    size_t textRoom() const;

private:
    void handle(const IrcMessage& message, Clock::time_point now, std::vector<std::string>& replies,
                std::vector<IrcEvent>& events);
    void nickRefused(const IrcMessage& message, std::vector<std::string>& replies,
                     std::vector<IrcEvent>& events);
    void readSupport(const IrcMessage& message);
    bool isMe(std::string_view nick) const { return IrcNamesEqual(nick, currentNick); }
    bool isChannel(std::string_view name) const { return IrcNamesEqual(name, channelName); }

    const std::string wantedNick;
    const std::string channelName;
    std::string currentNick;
    std::string userHost; // "user@host" as the server shows the bridge, once known
    size_t nickLength = SAFE_NICK_LENGTH;
    unsigned nickAttempt = 0;
    bool registered = false;
    bool inChannel = false;
    Clock::time_point rejoinAt = Clock::time_point::max();
    Clock::time_point regainAt = Clock::time_point::max();
};
