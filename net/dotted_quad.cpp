// IsDottedQuad: the lenient check whether an address text must be looked up by name first.
#include "net/tcp_socket.h"

#include <string_view>

namespace {

// What atoi reads: C-locale white space, an optional sign, then digits up to the first other
// character. Fields are at most three characters long here, so the value cannot overflow.
bool IsAtoiSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int ReadLikeAtoi(std::string_view field) {
    size_t at = 0;
    while (at < field.size() && IsAtoiSpace(field[at]))
        ++at;
    bool negative = false;
    if (at < field.size() && (field[at] == '+' || field[at] == '-'))
        negative = field[at++] == '-';
    int value = 0;
    while (at < field.size() && field[at] >= '0' && field[at] <= '9')
        value = value * 10 + (field[at++] - '0');
    return negative ? -value : value;
}

} // namespace

// Fields are cut the way strtok(text, ".") cuts them: runs of dots are one separator and no
// field is ever empty. So "", "...", "abc" and "1.2..3" pass, which the Connect command relies on
// to tell addresses from names only roughly.
bool IsDottedQuad(const std::string& text) {
    // strtok sees the text only up to its first zero byte.
    const std::string_view rest(text.c_str());
    int fields = 0;
    size_t at = 0;
    while (at < rest.size()) {
        const size_t start = rest.find_first_not_of('.', at);
        if (start == std::string_view::npos)
            break;
        size_t end = rest.find('.', start);
        if (end == std::string_view::npos)
            end = rest.size();
        const std::string_view field = rest.substr(start, end - start);
        if (field.size() > 3)
            return false;
        const int value = ReadLikeAtoi(field);
        if (value < 0 || value > 255)
            return false;
        if (++fields > 4)
            return false;
        at = end;
    }
    return true;
}
