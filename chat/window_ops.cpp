// The window operations as changes of the view model ChatView.
#include "chat/window_ops.h"

#include "chat/formatting.h"
#include "chat/protocol.h"

#include <cstdarg>
#include <string>

ChatViewModel ChatView;

void AppendLog(const char* format, ...) {
    // Formatted like a message: a line that would pass 1023 bytes loses the end of its last %s
    // text, between characters, and keeps what the format puts after it.
    char line[SEND_BUFFER_SIZE];
    va_list args;
    va_start(args, format);
    const int length = FormatIntoV(line, format, args);
    va_end(args);
    ChatView.appendLine(std::string(line, static_cast<size_t>(length)));
}

void AppendChatLine(std::string_view name, std::string_view text) {
    // The text is copied, never formatted: a '%' in it is an ordinary character. It is bounded
    // like a typed line, at 1023 bytes.
    const std::string_view shown = CutToCharBoundary(text, SEND_BUFFER_SIZE - 1);
    std::string line;
    line.reserve(name.size() + shown.size() + 4);
    line += '<';
    line += name;
    line += ">: ";
    line += shown;
    ChatView.appendLine(std::move(line));
}

void ResetChatView(bool clearLog) {
    ChatView.reset(clearLog);
    for (std::string& name : UserTable)
        name.clear();
}

void AddUserName(std::string_view name) {
    ChatView.addUser(std::string(name));
}

void RemoveUserName(std::string_view name) {
    ChatView.removeUser(name);
}
