// The fuzz targets' oracle for what the window shows: the list never holds more than a room's 33
// people, and no line begins a new speaker inside a received text.
#pragma once

#include "chat/window_ops.h"
#include "wire/protocol.h"

#include <string>
#include <string_view>
#include <vector>

// No CR, LF, VT, FF, NEL, U+2028, U+2029 or bidirectional embedding, override or isolate: where a
// view shows the text, nothing in it starts a line or turns the line around.
inline bool OneLine(std::string_view shown) {
    for (const char* breaking :
         {"\r", "\n", "\v", "\f", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAA",
          "\xE2\x80\xAB", "\xE2\x80\xAC", "\xE2\x80\xAD", "\xE2\x80\xAE", "\xE2\x81\xA6",
          "\xE2\x81\xA7", "\xE2\x81\xA8", "\xE2\x81\xA9"})
        if (shown.find(breaking) != std::string_view::npos)
            return false;
    return true;
}

// Every list entry is one line, and every log line is one chat line ("<" starts it) or one of the
// lines a client writes when its host departs.
inline bool ViewIsSound() {
    const std::vector<std::string> users = ChatView.users();
    if (users.size() > MAX_CLIENTS + 1)
        return false;
    for (const std::string& name : users)
        if (!OneLine(name))
            return false;
    const std::string log = ChatView.logText();
    for (size_t start = 0, end; (end = log.find('\n', start)) != std::string::npos;
         start = end + 1) {
        const std::string_view line(log.data() + start, end - start);
        const bool known =
            line.starts_with("<") || line == "Server disconnected" || line == std::string(40, '-');
        if (!known || !OneLine(line))
            return false;
    }
    return log.size() <= ChatViewModel::LOG_LIMIT;
}
