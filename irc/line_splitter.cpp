// Cutting chat lines into IRC messages.
#include "irc/line_splitter.h"

#include "text/utf8.h"

namespace {

// The longest UTF-8 character: a piece must have room for at least one.
constexpr size_t LONGEST_CHARACTER = 4;

} // namespace

std::vector<std::string> SplitForIrc(std::string_view head, std::string_view text,
                                     size_t maxBytes) {
    if (maxBytes < head.size() + LONGEST_CHARACTER)
        head = {};
    const size_t room = maxBytes > head.size() ? maxBytes - head.size() : 0;
    std::vector<std::string> pieces;
    if (room < LONGEST_CHARACTER)
        return pieces;
    do {
        std::string_view part = CutToCharBoundary(text, room);
        if (part.empty()) // a stray byte that no cut can keep whole
            part = text.substr(0, 1);
        size_t next = part.size();
        if (part.size() < text.size()) {
            const size_t space = part.rfind(' ');
            if (space != std::string_view::npos && space >= part.size() / 2) {
                part = part.substr(0, space);
                next = space + 1;
            } else if (text[part.size()] == ' ') {
                next = part.size() + 1;
            }
        }
        pieces.push_back(std::string(head) + std::string(part));
        text.remove_prefix(next);
    } while (!text.empty());
    return pieces;
}
