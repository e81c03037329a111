// Transcript header and lines.
#include "features/transcript_format.h"

#include "features/local_time.h"

std::string TranscriptHeader(const CurrentRoom* room, std::string_view what,
                             std::chrono::system_clock::time_point time) {
    std::string header = "Parlox transcript, ";
    header += room != nullptr ? RoomTitle(*room) : std::string("no room");
    header += ", ";
    header += what;
    header += ' ';
    header += DateTime(time);
    header += '\n';
    return header;
}

std::string TranscriptLine(std::string_view line, std::chrono::system_clock::time_point arrived) {
    std::string out = "[" + DateTime(arrived) + "] ";
    const size_t start = out.size();
    out += line;
    for (size_t i = start; i < out.size(); ++i) {
        if (out[i] == '\n' || out[i] == '\r')
            out[i] = ' ';
    }
    out += '\n';
    return out;
}
