// Formatting into SEND_BUFFER_SIZE-byte buffers: a message that would not fit keeps its fixed
// ending and loses the end of its last text, cut between UTF-8 characters.
#include "chat/formatting.h"

#include <cstdarg>
#include <cstdio>
#include <string>

std::string_view CutToCharBoundary(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    // Walk back from the cut over at most three continuation bytes to the byte that leads them.
    // Only when that byte is a lead byte whose sequence reaches past the cut is the sequence
    // split; stray continuation bytes belong to no character and may be cut anywhere.
    const auto byte = [&](size_t i) {
        return static_cast<unsigned char>(text[i]);
    };
    size_t lead = maxBytes;
    while (lead > 0 && maxBytes - lead < 3 && (byte(lead) & 0xC0) == 0x80)
        --lead;
    const unsigned char first = byte(lead);
    const size_t sequence = first >= 0xF0 && first < 0xF8   ? 4
                            : first >= 0xE0 && first < 0xF0 ? 3
                            : first >= 0xC0 && first < 0xE0 ? 2
                                                            : 1;
    if (lead < maxBytes && lead + sequence > maxBytes)
        return text.substr(0, lead);
    return text.substr(0, maxBytes);
}

namespace formatting {

// The formats come from FormatInto's callers, which pass fixed formats only.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

int FormatRaw(char* buffer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, SEND_BUFFER_SIZE, format, args);
    va_end(args);
    return length;
}

int KeepFirstCharacters(char* buffer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    std::string full(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(full.data(), full.size() + 1, format, again);
    va_end(again);
    va_end(args);
    const std::string_view kept = CutToCharBoundary(full, MAX_TEXT);
    std::memcpy(buffer, kept.data(), kept.size());
    buffer[kept.size()] = '\0';
    return static_cast<int>(kept.size());
}

#pragma GCC diagnostic pop

} // namespace formatting
