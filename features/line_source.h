// Whose a log line is: the program's own, the user's, or someone else's in the room.
#pragma once

#include "model/chat_view_model.h"

#include <string_view>

// A chat line written under a name other than ownName (the Name the window last connected or
// hosted with). Program lines ("<<...>>", banners, departures) are no chat lines.
inline bool FromSomeoneElse(std::string_view line, const ChatViewModel::LineInfo& info,
                            std::string_view ownName) {
    return info.isChat() && info.name(line) != ownName;
}
