// Whether a chat text mentions a name: the name as a whole word, in any letter case.
#pragma once

#include <string_view>

// True when name stands in text with no word character (an ASCII letter or digit, '_', or a
// byte of a non-ASCII UTF-8 character) right before or after it; ASCII letters match in either
// case. An empty name is never mentioned.
bool MentionsName(std::string_view text, std::string_view name);
