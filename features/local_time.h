// Local wall-clock times as the log and the transcripts show them.
#pragma once

#include <chrono>
#include <string>

// "[HH:MM] ", the prefix of a line in the log when times are shown.
std::string TimePrefix(std::chrono::system_clock::time_point time);
// "YYYY-MM-DD HH:MM:SS".
std::string DateTime(std::chrono::system_clock::time_point time);
