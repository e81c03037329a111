// ShownText: received bytes decoded strictly as UTF-8, with the characters that would break a
// log line or turn its "<name>: " frame around replaced by visible marks.
#include "text/shown_text.h"

#include "text/utf8.h"

bool ShowsAsBreak(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || (c >= 0x1C && c <= 0x1E) || c == 0x85 || c == 0x2028 ||
           c == 0x2029;
}

bool ShowsAsHidden(char32_t c) {
    const bool control = (c < 0x20 && c != '\t') || (c >= 0x7F && c <= 0x9F);
    const bool bidi = (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E ||
                      c == 0x200F || c == 0x061C;
    const bool annotationOrObject = c >= 0xFFF9 && c <= 0xFFFC;
    const bool noncharacter = (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
    return control || bidi || annotationOrObject || noncharacter;
}

std::string ShownText(std::string_view received) {
    std::string shown;
    shown.reserve(received.size());
    for (size_t at = 0; at < received.size();) {
        char32_t c = 0;
        const size_t length = DecodeUtf8(received, at, c);
        if (length == 0) {
            shown += HIDDEN_MARK; // one mark per byte that starts no character
            ++at;
            continue;
        }
        if (ShowsAsBreak(c))
            shown += BREAK_MARK;
        else if (ShowsAsHidden(c))
            shown += HIDDEN_MARK;
        else
            shown.append(received, at, length);
        at += length;
    }
    return shown;
}
