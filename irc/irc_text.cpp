// Formatting codes and CTCP framing in IRC texts.
#include "irc/irc_text.h"

namespace {

constexpr char BOLD = '\x02';
constexpr char COLOUR = '\x03';
constexpr char HEX_COLOUR = '\x04';
constexpr char RESET = '\x0F';
constexpr char MONOSPACE = '\x11';
constexpr char REVERSE = '\x16';
constexpr char ITALIC = '\x1D';
constexpr char STRIKE = '\x1E';
constexpr char UNDERLINE = '\x1F';
constexpr char CTCP = '\x01';

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// How many of at most `most` bytes from text[at] pass `accept`.
template <class Accept> size_t Span(std::string_view text, size_t at, size_t most, Accept accept) {
    size_t n = 0;
    while (n < most && at + n < text.size() && accept(text[at + n]))
        ++n;
    return n;
}

// The length of a colour's digits after its code at text[at]: "fg" or "fg,bg". A comma not
// followed by a digit belongs to the text.
template <class Accept>
size_t ColourLength(std::string_view text, size_t at, size_t most, Accept accept) {
    const size_t foreground = Span(text, at, most, accept);
    if (foreground == 0)
        return 0;
    const size_t comma = at + foreground;
    if (comma < text.size() && text[comma] == ',') {
        const size_t background = Span(text, comma + 1, most, accept);
        if (background > 0)
            return foreground + 1 + background;
    }
    return foreground;
}

} // namespace

std::string StripFormatting(std::string_view text) {
    std::string plain;
    plain.reserve(text.size());
    for (size_t at = 0; at < text.size(); ++at) {
        switch (text[at]) {
        case BOLD:
        case RESET:
        case MONOSPACE:
        case REVERSE:
        case ITALIC:
        case STRIKE:
        case UNDERLINE:
            break;
        case COLOUR:
            at += ColourLength(text, at + 1, 2, IsDigit);
            break;
        case HEX_COLOUR:
            at += ColourLength(text, at + 1, 6, IsHexDigit);
            break;
        default:
            plain += text[at];
        }
    }
    return plain;
}

CtcpKind ClassifyCtcp(std::string_view text, std::string_view& body) {
    if (text.empty() || text.front() != CTCP)
        return CtcpKind::None;
    text.remove_prefix(1);
    if (!text.empty() && text.back() == CTCP)
        text.remove_suffix(1);
    constexpr std::string_view ACTION = "ACTION";
    if (text.substr(0, ACTION.size()) != ACTION)
        return CtcpKind::Other;
    text.remove_prefix(ACTION.size());
    if (!text.empty() && text.front() != ' ')
        return CtcpKind::Other;
    body = text.empty() ? text : text.substr(1);
    return CtcpKind::Action;
}
