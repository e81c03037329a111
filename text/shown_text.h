// What the views show of a received name or text: always one line, read in the order it arrived.
#pragma once

#include <string>
#include <string_view>

// Shown in place of a line or paragraph break: CR, LF, VT, FF, the information separators that
// bidirectional layout takes as paragraph ends (U+001C..U+001E), NEL, U+2028 and U+2029.
// U+00B6, the pilcrow: a paragraph mark that every font has, the window's Arial included.
inline constexpr char BREAK_MARK[] = "\xC2\xB6";
// Shown in place of what a view would act on instead of showing it as text:
// - bytes that are no UTF-8, and control characters other than TAB (a rich edit takes U+0007 for
//   the end of a table cell);
// - the bidirectional controls: embeddings, overrides and isolates (U+202A..U+202E,
//   U+2066..U+2069) and the marks U+200E, U+200F and U+061C;
// - the interlinear annotation marks U+FFF9..U+FFFB, which a rich edit also uses to start and end
//   table rows;
// - U+FFFC, the object replacement character, which both toolkits take for an embedded object;
// - the noncharacters U+FDD0..U+FDEF and the last two code points of every plane (U+FFFE, U+FFFF,
//   U+1FFFE, ...): programs keep them for their own use, and the toolkits do: Qt's text document
//   starts a new block at its frame markers U+FDD0 and U+FDD1, and a rich edit delimits math
//   objects with U+FDD0, U+FDEE and U+FDEF.
inline constexpr char HIDDEN_MARK[] = "\xEF\xBF\xBD"; // U+FFFD, the replacement character

// Whether a character shows as BREAK_MARK, or as HIDDEN_MARK.
bool ShowsAsBreak(char32_t c);
bool ShowsAsHidden(char32_t c);

// The text as valid UTF-8 with every such character or byte replaced by its mark. Everything else
// is kept byte for byte; the bytes relayed to others are never passed through this.
std::string ShownText(std::string_view received);
