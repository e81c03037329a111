// Formatting into fixed buffers without ever writing past them.
#pragma once

#include "text/utf8.h"

#include <cstddef>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <utility>

inline constexpr size_t SEND_BUFFER_SIZE = 1024;

namespace formatting {

inline constexpr size_t MAX_TEXT = SEND_BUFFER_SIZE - 1;

// snprintf into a SEND_BUFFER_SIZE buffer; the length the whole result needs (negative on error).
int FormatRaw(char* buffer, const char* format, ...);
// Keeps the first characters of an overlong result, formatted again in full to see where the
// character at the cut ends; returns the length kept.
int KeepFirstCharacters(char* buffer, const char* format, ...);

template <class T>
constexpr bool IS_TEXT =
    std::is_same_v<std::decay_t<T>, const char*> || std::is_same_v<std::decay_t<T>, char*>;

template <class T> const char* AsText(T arg) {
    if constexpr (IS_TEXT<T>)
        return arg;
    else
        return nullptr;
}

// The index of the last text argument, or -1.
template <class... Args> constexpr int LastTextIndex() {
    int index = -1;
    int i = 0;
    ((index = IS_TEXT<Args> ? i : index, ++i), ...);
    return index;
}

template <int I, int Cut, class T> decltype(auto) Pick(T&& arg, const char* cut) {
    if constexpr (I == Cut)
        return cut;
    else
        return std::forward<T>(arg);
}

template <class... Args, int... I>
int FormatWithCut(char* buffer, const char* format, const char* cut,
                  std::integer_sequence<int, I...>, Args... args) {
    constexpr int CUT = LastTextIndex<Args...>();
    return FormatRaw(buffer, format, Pick<I, CUT>(args, cut)...);
}

} // namespace formatting

// Formats printf-style into a buffer of SEND_BUFFER_SIZE bytes and returns the length written.
// When the result would not fit in 1023 bytes, the last text argument is cut (at a character
// boundary) so that the message still ends with everything the format puts after it, its final
// newline in particular; when even that is not enough, the first characters are kept. Callers
// pass fixed formats only, whose last %s shows the last text argument.
template <class... Args> int FormatInto(char* buffer, const char* format, Args... args) {
    using namespace formatting;
    static_assert(((std::is_arithmetic_v<Args> || IS_TEXT<Args>)&&...),
                  "FormatInto takes numbers and zero-terminated texts");
    const int length = FormatRaw(buffer, format, args...);
    if (length < 0) {
        buffer[0] = '\0';
        return 0;
    }
    if (static_cast<size_t>(length) <= MAX_TEXT)
        return length;
    constexpr int TEXT = LastTextIndex<Args...>();
    if constexpr (TEXT >= 0) {
        const char* texts[] = {AsText(args)...};
        const std::string_view text = texts[TEXT] ? texts[TEXT] : "";
        const size_t over = static_cast<size_t>(length) - MAX_TEXT;
        if (over <= text.size()) {
            // The cut text is copied so that it can be terminated; a message is at most 1023
            // bytes, so is the text that stays.
            char kept[SEND_BUFFER_SIZE];
            const std::string_view cut = CutToCharBoundary(text, text.size() - over);
            std::memcpy(kept, cut.data(), cut.size());
            kept[cut.size()] = '\0';
            return FormatWithCut(buffer, format, kept,
                                 std::make_integer_sequence<int, sizeof...(Args)>(), args...);
        }
    }
    return KeepFirstCharacters(buffer, format, args...);
}
