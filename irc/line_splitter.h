// SplitForIrc: one chat line as the IRC messages that carry it within IRC's line limit.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The pieces head + part of text, each at most maxBytes bytes, that carry the whole text in
// order. Cuts fall between UTF-8 characters, at the last space of a piece when that keeps at
// least half of it; the space at a cut is not repeated. Every piece starts with head, so each
// names its author. An empty text gives one piece, head alone. When head leaves less than one
// character's room it is left out.
std::vector<std::string> SplitForIrc(std::string_view head, std::string_view text, size_t maxBytes);
