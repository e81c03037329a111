// Notification texts: cut between characters, control characters blanked, markup escaped.
#include "features/notification_text.h"

#include "wire/formatting.h"

#include <algorithm>

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

std::string NotifiedName(std::string_view name) {
    return Blanked(CutToCharBoundary(name, SUMMARY_NAME_LIMIT));
}

std::string NotificationSummary(std::string_view name) {
    return NotifiedName(name) + " in Parlox";
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

std::string AnnouncedLine(std::string_view name, std::string_view text) {
    return NotifiedName(name) + ": " + NotificationBody(text);
}

std::string NewLinesFrom(int lines, const std::vector<std::string>& writers) {
    std::string text = NewLinesBody(lines);
    if (writers.empty())
        return text;
    const size_t named = std::min(writers.size(), NAMED_WRITERS);
    const size_t others = writers.size() - named;
    text += ", from ";
    for (size_t i = 0; i < named; ++i) {
        if (i > 0)
            text += i + 1 == named && others == 0 ? " and " : ", ";
        text += NotifiedName(writers[i]);
    }
    if (others > 0)
        text += " and " + std::to_string(others) + (others == 1 ? " other" : " others");
    return text;
}

std::string UnreadToolTip(int unread) {
    if (unread <= 0)
        return "Parlox";
    return "Parlox: " + std::to_string(unread) + (unread == 1 ? " unread line" : " unread lines");
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
