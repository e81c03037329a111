// Reading and cutting UTF-8 text that arrived from anywhere: strict decoding, and cuts that never
// split a character.
#pragma once

#include <cstddef>
#include <string_view>

// The length of the UTF-8 sequence at text[at] (at < text.size()) and its code point, or 0 when
// the bytes there are no well-formed sequence: overlong forms, surrogates, values past U+10FFFF
// and sequences cut short all count as malformed.
size_t DecodeUtf8(std::string_view text, size_t at, char32_t& codePoint);

// The longest prefix of text of at most maxBytes bytes that does not split a UTF-8 sequence.
std::string_view CutToCharBoundary(std::string_view text, size_t maxBytes);
