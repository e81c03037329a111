// Rooms as the fields name them, and their titles and file names.
#include "features/current_room.h"

#include "chat/program_state.h"
#include "commands/connection_fields.h"
#include "net/tcp_socket.h"
#include "wire/formatting.h"

CurrentRoom RoomOf(bool hosting, const FieldTexts& fields) {
    CurrentRoom room;
    room.hosting = hosting;
    room.address = hosting ? LookupSocket.localHostName()
                           : std::string(CutToCharBoundary(fields.address, FIELD_LIMIT));
    room.port = ReadPortField(fields.port);
    return room;
}

std::string RoomTitle(const CurrentRoom& room) {
    return (room.hosting ? "hosting on " : "connected to ") + room.address + " port " +
           std::to_string(room.port);
}

std::string RoomFileName(const CurrentRoom& room) {
    if (room.hosting)
        return "hosting-" + std::to_string(room.port) + ".txt";
    std::string name;
    for (char c : room.address) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '-';
        name += kept ? c : '_';
    }
    // "." and ".." are no file names of their own.
    if (name.find_first_not_of('.') == std::string::npos)
        name.insert(0, "_");
    return name + "-" + std::to_string(room.port) + ".txt";
}
