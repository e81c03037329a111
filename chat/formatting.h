// Formatting into fixed buffers without ever writing past them, and cutting text at UTF-8
// character boundaries.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string_view>

inline constexpr size_t SEND_BUFFER_SIZE = 1024;

// Formats printf-style into a buffer of SEND_BUFFER_SIZE bytes and returns the length written.
// When the result would not fit in 1023 bytes, the text of the last %s conversion is cut (at a
// character boundary) so that the message still ends with everything the format puts after it,
// its final newline in particular. Callers pass fixed formats only.
int FormatInto(char* buffer, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The same with the arguments as a va_list (AppendLog formats its lines this way).
int FormatIntoV(char* buffer, const char* format, va_list args)
    __attribute__((format(printf, 2, 0)));

// The longest prefix of text of at most maxBytes bytes that does not split a UTF-8 sequence.
std::string_view CutToCharBoundary(std::string_view text, size_t maxBytes);
