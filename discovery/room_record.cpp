// Turning untrusted announcements into rooms: the name made safe to show, the numbers checked.
#include "discovery/room_record.h"

#include "discovery/discovery.h"
#include "text/shown_text.h"
#include "text/utf8.h"

#include <cstddef>

namespace {

// A menu entry is one line: every character that a log line shows as a mark, the tab included,
// shows as U+FFFD here.
bool IsControl(char32_t c) {
    return c == '\t' || ShowsAsBreak(c) || ShowsAsHidden(c);
}

// A plain decimal number of at most five digits, nothing around it; -1 otherwise.
long ReadSmallNumber(std::string_view text) {
    if (text.empty() || text.size() > 5)
        return -1;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

bool KeyIs(std::string_view key, std::string_view wanted) {
    if (key.size() != wanted.size())
        return false;
    for (size_t i = 0; i < key.size(); ++i) {
        const char c = key[i] >= 'A' && key[i] <= 'Z' ? static_cast<char>(key[i] + 32) : key[i];
        if (c != wanted[i])
            return false;
    }
    return true;
}

// The value of the first TXT entry with the key, if there is one with a value.
std::optional<std::string_view> TxtValue(const std::vector<std::string>& txt,
                                         std::string_view key) {
    for (const std::string& entry : txt) {
        const size_t equals = entry.find('=');
        const std::string_view name = std::string_view(entry).substr(0, equals);
        if (!KeyIs(name, key))
            continue;
        if (equals == std::string::npos)
            return std::nullopt; // a bare key: present, without a value
        return std::string_view(entry).substr(equals + 1);
    }
    return std::nullopt;
}

} // namespace

std::string ShownName(std::string_view raw) {
    std::string shown;
    size_t at = 0;
    for (size_t count = 0; count < SHOWN_NAME_LIMIT && at < raw.size(); ++count) {
        char32_t c = 0;
        const size_t length = DecodeUtf8(raw, at, c);
        if (length == 0 || IsControl(c)) {
            shown += HIDDEN_MARK;
            at += length == 0 ? 1 : length;
        } else {
            shown.append(raw.substr(at, length));
            at += length;
        }
    }
    return shown;
}

std::optional<FoundRoom> RoomFromRecord(const RoomRecord& record) {
    if (!record.ipv4)
        return std::nullopt;
    FoundRoom room;
    room.name = ShownName(record.name);
    if (room.name.empty())
        return std::nullopt;
    const std::array<uint8_t, 4>& bytes = *record.ipv4;
    room.address = std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
                   std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);

    const auto typed = TxtValue(record.txt, "port");
    const long port = typed ? ReadSmallNumber(*typed) : -1;
    if (port >= 1 && port <= 65535) {
        room.port = static_cast<uint16_t>(port);
    } else {
        room.port = SwappedPort(record.srvPort);
    }
    if (room.port == 0)
        return std::nullopt;

    const auto users = TxtValue(record.txt, "users");
    const long people = users ? ReadSmallNumber(*users) : -1;
    room.people = people >= 1 && people <= ROOM_CAPACITY ? static_cast<int>(people) : 0;
    return room;
}
