// Parsing IRC lines: [@tags] [:prefix] COMMAND params... [:trailing].
#include "irc/irc_message.h"

#include <algorithm>

namespace {

char IrcLower(char c) {
    if (c >= 'A' && c <= ']') // A-Z, then [ \ ] at 0x5B..0x5D
        return static_cast<char>(c + 0x20);
    if (c == '~')
        return '^';
    return c;
}

// The next space-separated word from text, skipping the spaces before it.
std::string_view NextWord(std::string_view& text) {
    const size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos) {
        text = {};
        return {};
    }
    text.remove_prefix(start);
    const size_t end = std::min(text.find(' '), text.size());
    const std::string_view word = text.substr(0, end);
    text.remove_prefix(end);
    return word;
}

} // namespace

bool ParseIrcMessage(std::string_view line, IrcMessage& message) {
    message = IrcMessage();
    line = line.substr(0, line.find('\0'));
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    std::string_view word = NextWord(line);
    if (!word.empty() && word.front() == '@')
        word = NextWord(line);
    if (!word.empty() && word.front() == ':') {
        message.prefix = word.substr(1);
        word = NextWord(line);
    }
    if (word.empty())
        return false;
    message.command.reserve(word.size());
    for (char c : word)
        message.command += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c;
    for (;;) {
        const size_t start = line.find_first_not_of(' ');
        if (start == std::string_view::npos)
            break;
        if (line[start] == ':') {
            message.params.emplace_back(line.substr(start + 1));
            break;
        }
        message.params.emplace_back(NextWord(line));
    }
    return true;
}

std::string_view NickOf(std::string_view prefix) {
    return prefix.substr(0, std::min(prefix.find('!'), prefix.find('@')));
}

bool IrcNamesEqual(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return IrcLower(x) == IrcLower(y);
           });
}

std::string AlternateNick(std::string_view wanted, unsigned attempt, size_t maxLength) {
    std::string suffix;
    if (attempt == 1 || attempt == 2)
        suffix.assign(attempt, '_');
    else if (attempt > 2)
        suffix = std::to_string(attempt - 2);
    const size_t room = maxLength > suffix.size() ? maxLength - suffix.size() : 0;
    // Nicks are ASCII on every network that enforces a length, so a byte cut is a character cut.
    return std::string(wanted.substr(0, room)) + suffix;
}
