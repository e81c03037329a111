// The atoi-style reading of id fields.
#include "wire/protocol.h"

#include <limits>

int64_t ReadId(std::string_view token) {
    size_t i = 0;
    while (i < token.size() && (token[i] == ' ' || token[i] == '\t' || token[i] == '\r' ||
                                token[i] == '\v' || token[i] == '\f' || token[i] == '\n'))
        ++i;
    bool negative = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) {
        negative = token[i] == '-';
        ++i;
    }
    // Accumulate towards the sign so that INT64_MIN itself is reachable, and stop at the limit:
    // an id of any length is then simply out of range instead of wrapping into a valid one.
    constexpr int64_t high = std::numeric_limits<int64_t>::max();
    constexpr int64_t low = std::numeric_limits<int64_t>::min();
    int64_t value = 0;
    for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i) {
        const int digit = token[i] - '0';
        if (negative) {
            if (value < (low + digit) / 10)
                return low;
            value = value * 10 - digit;
        } else {
            if (value > (high - digit) / 10)
                return high;
            value = value * 10 + digit;
        }
    }
    return value;
}
