// Notification texts: cut between characters, control characters blanked, markup escaped.
#include "features/notification_text.h"

#include "wire/formatting.h"

namespace {

std::string Blanked(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            c = ' ';
    }
    return out;
}

} // namespace

std::string NotificationSummary(std::string_view name) {
    return Blanked(CutToCharBoundary(name, SUMMARY_NAME_LIMIT)) + " in Parlox";
}

std::string NotificationBody(std::string_view text) {
    const std::string_view kept = CutToCharBoundary(text, BODY_LIMIT);
    std::string body = Blanked(kept);
    if (kept.size() < text.size())
        body += "\xE2\x80\xA6"; // U+2026 HORIZONTAL ELLIPSIS
    return body;
}

std::string NewLinesBody(int lines) {
    return std::to_string(lines) + " new lines";
}

std::string EscapeMarkup(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
        }
    }
    return out;
}
