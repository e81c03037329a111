// Formatting into SEND_BUFFER_SIZE-byte buffers: a message that would not fit keeps its fixed
// ending and loses the end of its last text, cut between UTF-8 characters.
#include "chat/formatting.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr size_t MAX_TEXT = SEND_BUFFER_SIZE - 1;

// The offset of the format's last "%s" conversion if it is a plain one (no flags, width,
// precision or length), otherwise npos. "%%" is no conversion.
size_t LastPlainStringConversion(std::string_view format) {
    size_t found = std::string_view::npos;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%')
            continue;
        if (i + 1 < format.size() && format[i + 1] == '%') {
            ++i;
            continue;
        }
        const size_t end = format.find_first_of("diouxXcspnfFeEgGaA", i + 1);
        if (end == std::string_view::npos)
            break;
        if (format[end] == 's')
            found = end == i + 1 ? i : std::string_view::npos;
        i = end;
    }
    return found;
}

// The length that format would produce with args; the args are left untouched.
int FormattedLength(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    // The formats measured here are the caller's fixed format, a prefix of it, or it with the
    // precision of its last "%s" set to 0; each takes the caller's arguments in the same order.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int length = std::vsnprintf(nullptr, 0, format, copy);
#pragma GCC diagnostic pop
    va_end(copy);
    return length;
}

} // namespace

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

int FormatInto(char* buffer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int length = FormatIntoV(buffer, format, args);
    va_end(args);
    return length;
}

int FormatIntoV(char* buffer, const char* format, va_list args) {
    const int length = FormattedLength(format, args);
    if (length < 0) {
        buffer[0] = '\0';
        return 0;
    }
    std::string full(static_cast<size_t>(length), '\0');
    {
        va_list copy;
        va_copy(copy, args);
        std::vsnprintf(full.data(), full.size() + 1, format, copy);
        va_end(copy);
    }

    std::string_view result = full;
    std::string cut;
    if (full.size() > MAX_TEXT) {
        // Cut the text of the last "%s" so that what the format puts after it (the message's
        // final newline) still fits. The text sits between the output of the format's prefix
        // and the output of everything after the conversion.
        const std::string_view fixed = format;
        const size_t conversion = LastPlainStringConversion(fixed);
        int prefix = -1;
        int withoutText = -1;
        if (conversion != std::string_view::npos) {
            const std::string before(fixed.substr(0, conversion));
            const std::string emptied = before + "%.0s" + std::string(fixed.substr(conversion + 2));
            prefix = FormattedLength(before.c_str(), args);
            withoutText = FormattedLength(emptied.c_str(), args);
        }
        if (prefix >= 0 && withoutText >= prefix && static_cast<size_t>(withoutText) <= MAX_TEXT) {
            const size_t textLength = full.size() - static_cast<size_t>(withoutText);
            const std::string_view text = result.substr(static_cast<size_t>(prefix), textLength);
            cut.assign(result.substr(0, static_cast<size_t>(prefix)));
            cut += CutToCharBoundary(text, MAX_TEXT - static_cast<size_t>(withoutText));
            cut += result.substr(static_cast<size_t>(prefix) + textLength);
            result = cut;
        } else {
            // No text to shorten, or the rest alone is too long: keep the first characters.
            result = CutToCharBoundary(result, MAX_TEXT);
        }
    }
    std::memcpy(buffer, result.data(), result.size());
    buffer[result.size()] = '\0';
    return static_cast<int>(result.size());
}
