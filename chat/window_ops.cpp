// The window operations as changes of the view model ChatView.
#include "chat/window_ops.h"

#include "chat/formatting.h"
#include "chat/protocol.h"

#include <string>

ChatViewModel ChatView;

void AppendLogLine(std::string_view line) {
    ChatView.appendLine(std::string(line));
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
    ChatView.appendLine(std::move(line), name.size());
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
