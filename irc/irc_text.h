// The text of IRC chat lines: formatting codes taken out, and CTCP's ACTION (/me) told apart.
#pragma once

#include <string>
#include <string_view>

// The text without IRC's formatting codes: bold, italic, underline, strike-through, monospace,
// reverse and reset, colours (^C with up to two digits, a comma and up to two more) and hex
// colours (^D with six hex digits, a comma and six more).
std::string StripFormatting(std::string_view text);

enum class CtcpKind {
    None,   // an ordinary line
    Action, // "\1ACTION waves\1": the body is "waves"
    Other,  // any other CTCP request or reply (VERSION, PING, ...): not chat
};

// What a PRIVMSG's text is; for an action, body receives what was done. The closing \1 may be
// missing, as some clients send it.
CtcpKind ClassifyCtcp(std::string_view text, std::string_view& body);
