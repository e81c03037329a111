// The text of a transcript: a header naming the room, then one line per log line with its date
// and time. UTF-8, each line ending in a line feed.
#pragma once

#include "features/current_room.h"

#include <chrono>
#include <string>
#include <string_view>

// "Parlox transcript, <room title>, <what> <date and time>", what being "saved" or "started".
std::string TranscriptHeader(const CurrentRoom* room, std::string_view what,
                             std::chrono::system_clock::time_point time);
// "[YYYY-MM-DD HH:MM:SS] <line>" and a line feed; line breaks inside the line become spaces, so
// that a text cannot forge a line of its own.
std::string TranscriptLine(std::string_view line, std::chrono::system_clock::time_point arrived);
