// The name under which the host announces a newcomer, so that nobody speaks under another's name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The longest name the host announces: what a Name field holds. Longer received names are cut to
// it, between characters.
inline constexpr size_t MAX_NAME = 99;

// wanted, cut to MAX_NAME, when it looks like none of others; otherwise the first of wanted + "
// (2)", " (3)", ... that looks like none of them, wanted cut between characters so that the whole
// stays within MAX_NAME. Two names look alike when ShownText shows them the same up to ASCII letter
// case.
std::string UniqueName(std::string_view wanted, const std::vector<std::string_view>& others);
