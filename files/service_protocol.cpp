// The file service's port and the reading of its fields.
#include "files/service_protocol.h"

#include "files/offer_line.h"

namespace {

uint16_t Swapped(uint16_t port) {
    return static_cast<uint16_t>((port >> 8) | (port << 8));
}

} // namespace

uint16_t FileServiceTcpPort(uint16_t typedPort) {
    // The typed number goes onto the wire byte-swapped, which gives the room's TCP port.
    const uint16_t roomPort = Swapped(typedPort);
    return roomPort == 65535 ? uint16_t{65534} : static_cast<uint16_t>(roomPort + 1);
}

uint16_t FileServicePort(uint16_t typedPort) {
    return Swapped(FileServiceTcpPort(typedPort));
}

std::vector<std::string_view> Fields(std::string_view line, size_t most) {
    std::vector<std::string_view> fields;
    while (fields.size() + 1 < most) {
        const size_t space = line.find(' ');
        if (space == std::string_view::npos)
            break;
        fields.push_back(line.substr(0, space));
        line.remove_prefix(space + 1);
    }
    fields.push_back(line);
    return fields;
}

bool ReadFileSize(std::string_view digits, uint64_t& size) {
    if (digits.empty() || digits.size() > 16 || (digits.size() > 1 && digits[0] == '0'))
        return false;
    uint64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > MAX_FILE_SIZE)
        return false;
    size = value;
    return true;
}

std::string SecondsText(int milliseconds) {
    std::string text = std::to_string(milliseconds / 1000);
    if (milliseconds % 1000 != 0)
        text += "." + std::to_string(milliseconds % 1000 / 100);
    return text + " s";
}
