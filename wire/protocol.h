// The chat wire protocol: participant ids, the name tables and the message catalogue.
//
// Every message is a keyword followed by its fields; keyword and fields are tokens that each end
// in a newline. No length prefix, no escaping. Newlines only separate: runs of them give no empty
// token. The ids are decimal ASCII, read like atoi; -1 is the host.
//
//   client -> host:  login NAME | msg TEXT | logoff
//   host -> client:  login ID NAME | msg ID TEXT | logoff ID
//
// A block (one read) may hold several messages or part of one; bytes after a NUL are ignored.
#pragma once

#include <cstdint>
#include <string_view>

inline constexpr int HOST_ID = -1;
inline constexpr int MAX_CLIENTS = 32;

// Outgoing messages, formatted with FormatInto into SendBuffer.
inline constexpr char CLIENT_LOGIN_FORMAT[] = "login\n%s\n"; // LocalName
inline constexpr char CLIENT_MSG_FORMAT[] = "msg\n%s\n";     // typed text
inline constexpr char CLIENT_LOGOFF[] = "logoff\n";
inline constexpr char HOST_GREETING_FORMAT[] = "login\n-1\n%s\n"; // the host's LocalName
inline constexpr char ROSTER_ENTRY_FORMAT[] = "login\n%d\n%s\n";  // id, name
inline constexpr char HOST_MSG_FORMAT[] = "msg\n-1\n%s\n";        // the host's typed text
// Relayed lines end with a newline so that two relays in one read never merge; every receiver
// that splits at newlines reads this form.
inline constexpr char RELAY_FORMAT[] = "msg\n%d\n%s\n";    // sender id, text
inline constexpr char DEPARTURE_FORMAT[] = "logoff\n%d\n"; // id of the client that left
inline constexpr char HOST_DEPARTURE[] = "logoff\n-1\n";

// The longest chat text that every form of a chat line carries whole in 1023 bytes: the relay of
// a two-digit id and the host's line both leave 1015 bytes for it. Longer lines are cut to this,
// once, where they are typed or received, so that every log shows the same text.
inline constexpr size_t MAX_LINE_TEXT = 1015;

// Reads an id field the way atoi does (leading white space, optional sign, digits up to the first
// other byte, no digits give 0), saturating instead of overflowing so that a huge id is simply
// out of range.
int64_t ReadId(std::string_view token);

// Whether id names a UserTable entry.
inline bool IsClientId(int64_t id) {
    return id >= 0 && id < MAX_CLIENTS;
}
