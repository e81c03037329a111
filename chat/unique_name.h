// The name under which the host announces a newcomer, so that nobody speaks under another's name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// wanted, cut between characters to FIELD_LIMIT (what a Name field holds), when it looks like none
// of others; otherwise the first of wanted + " (2)", " (3)", ... that looks like none of them,
// wanted cut between characters so that the whole stays within FIELD_LIMIT. Two names look alike
// when ShownText shows them the same up to ASCII letter case.
std::string UniqueName(std::string_view wanted, const std::vector<std::string_view>& others);
