// IrcMessage: one line of the IRC client protocol, split into its parts, and the nick rules that
// compare and pick names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// IRC's limit on one line, its CR LF included.
inline constexpr size_t IRC_LINE_LIMIT = 512;

struct IrcMessage {
    std::string prefix;              // the sender ("nick!user@host" or a server), without ':'
    std::string command;             // upper case: "PRIVMSG", or a three-digit numeric
    std::vector<std::string> params; // the trailing parameter included, without its ':'

    // The parameter at index, or empty when there is none.
    std::string_view param(size_t index) const {
        return index < params.size() ? std::string_view(params[index]) : std::string_view();
    }
};

// Parses one line without its line end. Message tags ("@...") are skipped; NUL bytes end the
// line. False when the line holds no command.
bool ParseIrcMessage(std::string_view line, IrcMessage& message);

// The nick in a prefix: the part before '!' (or '@'); the whole prefix of a server.
std::string_view NickOf(std::string_view prefix);

// Whether two nicks or channel names are the same under IRC's case rules (rfc1459 mapping:
// A-Z are a-z, and []\~ are {}|^).
bool IrcNamesEqual(std::string_view a, std::string_view b);

// The nick to try after `attempt` refusals of wanted (attempt 0 is wanted itself): wanted with
// one, then two underscores, then a number, always within maxLength bytes.
std::string AlternateNick(std::string_view wanted, unsigned attempt, size_t maxLength);
