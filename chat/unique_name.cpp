// UniqueName: a newcomer's name made distinct from the names already in the room with a number.
#include "chat/unique_name.h"

#include "chat/program_state.h"
#include "text/shown_text.h"
#include "wire/formatting.h"

#include <algorithm>

namespace {

// How a name looks in a list: as shown, ASCII letters folded to lower case.
std::string Look(std::string_view name) {
    std::string look = ShownText(name);
    for (char& c : look)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return look;
}

} // namespace

std::string UniqueName(std::string_view wanted, const std::vector<std::string_view>& others) {
    std::vector<std::string> taken;
    taken.reserve(others.size());
    for (std::string_view other : others)
        taken.push_back(Look(other));
    // The candidates all look different, and each name of others looks like one at most: one of
    // the first others.size() + 1 candidates is free.
    for (size_t number = 1;; ++number) {
        const std::string suffix = number == 1 ? "" : " (" + std::to_string(number) + ")";
        std::string candidate(CutToCharBoundary(wanted, FIELD_LIMIT - suffix.size()));
        candidate += suffix;
        if (std::find(taken.begin(), taken.end(), Look(candidate)) == taken.end())
            return candidate;
    }
}
