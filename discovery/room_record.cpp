// Turning untrusted announcements into rooms: the name made safe to show, the numbers checked.
#include "discovery/room_record.h"

#include "discovery/discovery.h"

#include <cstddef>

namespace {

constexpr char REPLACEMENT[] = "\xEF\xBF\xBD"; // U+FFFD

// Decodes one UTF-8 character at text[at]; returns its length and sets codePoint, or 0 when the
// bytes there are no valid character (overlong, surrogate, beyond U+10FFFF, cut short).
size_t DecodeUtf8(std::string_view text, size_t at, char32_t& codePoint) {
    const auto byte = [&](size_t i) {
        return static_cast<unsigned char>(text[at + i]);
    };
    const unsigned char lead = byte(0);
    size_t length = 0;
    char32_t value = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - at < length)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(i) & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    codePoint = value;
    return length;
}

bool IsControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
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
            shown += REPLACEMENT;
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
