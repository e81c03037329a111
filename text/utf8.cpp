// Strict UTF-8 decoding and cutting at character boundaries.
#include "text/utf8.h"

size_t DecodeUtf8(std::string_view text, size_t at, char32_t& codePoint) {
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
            low = 0xA0; // below: overlong
        else if (lead == 0xED)
            high = 0x9F; // above: surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90; // below: overlong
        else if (lead == 0xF4)
            high = 0x8F; // above: past U+10FFFF
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
