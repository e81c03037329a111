// Menu texts with their ampersands shown as they are.
#include "commands/menu_entry_text.h"

std::string MenuEntryText(std::string_view text) {
    std::string entry;
    entry.reserve(text.size());
    for (char c : text) {
        entry += c;
        if (c == '&')
            entry += '&';
    }
    return entry;
}
