// Formatting into SEND_BUFFER_SIZE-byte buffers: a message that would not fit keeps its fixed
// ending and loses the end of its last text, cut between UTF-8 characters.
#include "wire/formatting.h"

#include <cstdarg>
#include <cstdio>
#include <string>

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
