// The bridge's IRC conversation: registration, the channel, and the events it turns lines into.
#include "bridge/irc_session.h"

#include "irc/irc_text.h"

#include <algorithm>
#include <charconv>

namespace {

// "user@host" is at most a 10-byte user and a 63-byte host on the servers that limit them.
constexpr size_t LONGEST_USER_HOST = 10 + 1 + 63;

bool IsNickRefusal(std::string_view command) {
    return command == "432" || command == "433" || command == "436" || command == "437";
}

// The server's answers to a JOIN that did not work: no such channel, too many channels, full,
// invite only, banned, wrong key, bad name, registered nicks only.
bool IsJoinRefusal(std::string_view command) {
    static constexpr std::string_view REFUSALS[] = {"403", "405", "471", "473",
                                                    "474", "475", "476", "477"};
    return std::find(std::begin(REFUSALS), std::end(REFUSALS), command) != std::end(REFUSALS);
}

} // namespace

IrcSession::IrcSession(std::string wanted, std::string channel)
    : wantedNick(std::move(wanted)), channelName(std::move(channel)), currentNick(wantedNick) {}

std::vector<std::string> IrcSession::start() {
    currentNick = wantedNick;
    userHost.clear();
    nickLength = SAFE_NICK_LENGTH;
    nickAttempt = 0;
    registered = false;
    inChannel = false;
    rejoinAt = regainAt = Clock::time_point::max();
    return {"NICK " + currentNick, "USER parlox 0 * :Parlox bridge"};
}

void IrcSession::receive(std::string_view line, Clock::time_point now,
                         std::vector<std::string>& replies, std::vector<IrcEvent>& events) {
    IrcMessage message;
    if (ParseIrcMessage(line, message))
        handle(message, now, replies, events);
}

void IrcSession::handle(const IrcMessage& message, Clock::time_point now,
                        std::vector<std::string>& replies, std::vector<IrcEvent>& events) {
    const std::string& command = message.command;
    const std::string nick(NickOf(message.prefix));
    if (command == "PING") {
        replies.push_back("PONG :" + std::string(message.param(0)));
    } else if (command == "001") {
        registered = true;
        if (!message.param(0).empty())
            currentNick = message.param(0);
        if (currentNick != wantedNick)
            regainAt = now + REGAIN_WAIT;
        replies.push_back("JOIN " + channelName);
    } else if (command == "005") {
        readSupport(message);
    } else if (IsNickRefusal(command)) {
        nickRefused(message, replies, events);
    } else if (command == "NICK") {
        if (isMe(nick)) {
            currentNick = message.param(0);
            if (currentNick == wantedNick)
                regainAt = Clock::time_point::max();
        } else {
            events.push_back({IrcEvent::Kind::Renamed, nick, std::string(message.param(0))});
        }
    } else if (command == "JOIN" && isChannel(message.param(0))) {
        if (isMe(nick)) {
            inChannel = true;
            rejoinAt = Clock::time_point::max();
            const size_t bang = message.prefix.find('!');
            if (bang != std::string::npos)
                userHost = message.prefix.substr(bang + 1);
            events.push_back({IrcEvent::Kind::Joined, nick, {}});
        } else {
            events.push_back({IrcEvent::Kind::Entry, nick, {}});
        }
    } else if (command == "PART" && isChannel(message.param(0))) {
        if (isMe(nick)) {
            inChannel = false;
            rejoinAt = now + REJOIN_WAIT;
        } else {
            events.push_back({IrcEvent::Kind::Exit, nick, {}});
        }
    } else if (command == "QUIT") {
        if (!isMe(nick))
            events.push_back({IrcEvent::Kind::Exit, nick, {}});
    } else if (command == "KICK" && isChannel(message.param(0))) {
        const std::string victim(message.param(1));
        if (isMe(victim)) {
            inChannel = false;
            rejoinAt = now + REJOIN_WAIT;
            events.push_back({IrcEvent::Kind::Problem, nick,
                              "kicked from " + channelName + ": " + std::string(message.param(2))});
        } else {
            events.push_back({IrcEvent::Kind::Exit, victim, {}});
        }
    } else if (command == "PRIVMSG" && isChannel(message.param(0)) && !isMe(nick)) {
        std::string_view body;
        switch (ClassifyCtcp(message.param(1), body)) {
        case CtcpKind::None:
            events.push_back({IrcEvent::Kind::Line, nick, StripFormatting(message.param(1))});
            break;
        case CtcpKind::Action:
            events.push_back({IrcEvent::Kind::Action, nick, StripFormatting(body)});
            break;
        case CtcpKind::Other:
            break;
        }
    } else if (IsJoinRefusal(command) && isChannel(message.param(1))) {
        rejoinAt = now + REJOIN_WAIT;
        events.push_back({IrcEvent::Kind::Problem,
                          {},
                          "cannot join " + channelName + ": " +
                              std::string(message.params.empty() ? "" : message.params.back())});
    } else if (command == "ERROR" || command == "464" || command == "465") {
        events.push_back({IrcEvent::Kind::Problem,
                          {},
                          std::string(message.params.empty() ? "" : message.params.back())});
    }
}

void IrcSession::nickRefused(const IrcMessage& message, std::vector<std::string>& replies,
                             std::vector<IrcEvent>& events) {
    if (registered)
        return; // a try for the wanted nick; the alternate stays, and regainAt tries again
    events.push_back({IrcEvent::Kind::Problem,
                      {},
                      "nick " + currentNick + " refused: " +
                          std::string(message.params.empty() ? "" : message.params.back())});
    // The attempts run out only past a few thousand numbered nicks: the server refuses them all.
    currentNick = AlternateNick(wantedNick, ++nickAttempt, nickLength);
    replies.push_back("NICK " + currentNick);
}

void IrcSession::readSupport(const IrcMessage& message) {
    constexpr std::string_view NICKLEN = "NICKLEN=";
    for (const std::string& token : message.params) {
        if (token.compare(0, NICKLEN.size(), NICKLEN) != 0)
            continue;
        size_t length = 0;
        const char* first = token.data() + NICKLEN.size();
        const char* last = token.data() + token.size();
        if (std::from_chars(first, last, length).ec == std::errc() && length > 0)
            nickLength = length;
    }
}

void IrcSession::tick(Clock::time_point now, std::vector<std::string>& replies) {
    if (!registered)
        return;
    if (!inChannel && now >= rejoinAt) {
        rejoinAt = Clock::time_point::max(); // the answer to this JOIN sets the next try
        replies.push_back("JOIN " + channelName);
    }
    if (currentNick != wantedNick && now >= regainAt) {
        regainAt = now + REGAIN_WAIT;
        replies.push_back("NICK " + wantedNick);
    }
}

IrcSession::Clock::time_point IrcSession::nextTick() const {
    if (!registered)
        return Clock::time_point::max();
    return std::min(inChannel ? Clock::time_point::max() : rejoinAt,
                    currentNick != wantedNick ? regainAt : Clock::time_point::max());
}

std::string IrcSession::privmsg(std::string_view text) const {
    return "PRIVMSG " + channelName + " :" + std::string(text);
}

size_t IrcSession::textRoom() const {
    const size_t userHostSize = userHost.empty() ? LONGEST_USER_HOST : userHost.size();
    // ":nick!user@host PRIVMSG #channel :" and CR LF around the text.
    const size_t frame = 1 + currentNick.size() + 1 + userHostSize + 1 + privmsg("").size() + 2;
    return frame < IRC_LINE_LIMIT ? IRC_LINE_LIMIT - frame : 0;
}
