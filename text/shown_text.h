// What the views show of a received name or text: always one line, read in the order it arrived.
#pragma once

#include <string>
#include <string_view>

// Shown in place of a line or paragraph break: CR, LF, VT, FF, the information separators that
// bidirectional layout takes as paragraph ends (U+001C..U+001E), NEL, U+2028 and U+2029.
// U+00B6, the pilcrow: a paragraph mark that every font has, the window's Arial included.
inline constexpr char BREAK_MARK[] = "\xC2\xB6";
// Shown in place of bytes that are no UTF-8, of other control characters (TAB excepted), of the
// bidirectional embeddings, overrides and isolates (U+202A..U+202E, U+2066..U+2069) and of the
// interlinear annotation marks (U+FFF9..U+FFFB), which a view would act on instead of showing.
inline constexpr char HIDDEN_MARK[] = "\xEF\xBF\xBD"; // U+FFFD, the replacement character

// Whether a character shows as BREAK_MARK, or as HIDDEN_MARK.
bool ShowsAsBreak(char32_t c);
bool ShowsAsHidden(char32_t c);

// The text as valid UTF-8 with every such character or byte replaced by its mark. Everything else
// is kept byte for byte; the bytes relayed to others are never passed through this.
std::string ShownText(std::string_view received);
