// ShownText: received bytes decoded strictly as UTF-8, with the characters that would break a
// log line or turn its "<name>: " frame around replaced by visible marks.
#include "chat/shown_text.h"

#include <cstdint>

namespace {

// The length of the UTF-8 sequence at text[at] and its code point, or 0 when the bytes there are
// no well-formed sequence (overlong forms, surrogates and values past U+10FFFF included).
size_t DecodeAt(std::string_view text, size_t at, char32_t& codePoint) {
    const auto byte = [&](size_t i) {
        return static_cast<unsigned char>(text[i]);
    };
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    size_t length;
    unsigned char low = 0x80; // the range the second byte must fall in
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() - at < length || byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    char32_t value = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    codePoint = value;
    return length;
}

bool IsBreak(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || (c >= 0x1C && c <= 0x1E) || c == 0x85 || c == 0x2028 ||
           c == 0x2029;
}

bool IsHidden(char32_t c) {
    const bool control = (c < 0x20 && c != '\t') || (c >= 0x7F && c <= 0x9F);
    const bool bidi = (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
    const bool annotation = c >= 0xFFF9 && c <= 0xFFFB;
    return control || bidi || annotation;
}

} // namespace

std::string ShownText(std::string_view received) {
    std::string shown;
    shown.reserve(received.size());
    for (size_t at = 0; at < received.size();) {
        char32_t c = 0;
        const size_t length = DecodeAt(received, at, c);
        if (length == 0) {
            shown += HIDDEN_MARK; // one mark per byte that starts no character
            ++at;
            continue;
        }
        if (IsBreak(c))
            shown += BREAK_MARK;
        else if (IsHidden(c))
            shown += HIDDEN_MARK;
        else
            shown.append(received, at, length);
        at += length;
    }
    return shown;
}
