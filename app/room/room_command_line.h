// parlox-room's command line, read and checked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct RoomOptions {
    uint16_t port = 5000;             // as typed into Port
    std::string name = "Parlox room"; // the host's name in the room
    std::string transcripts;          // a folder for the transcript; empty: none kept
};

inline constexpr char ROOM_USAGE[] =
    "usage: parlox-room [--port N] [--name NAME] [--transcripts DIR]\n";

// The options, or none with the reason (one line) in error. args leaves out the program's name.
std::optional<RoomOptions> ParseRoomCommandLine(const std::vector<std::string>& args,
                                                std::string& error);
