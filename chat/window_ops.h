// The operations through which the handlers and the commands change what the window shows. They
// act on the view model ChatView, which the window observes; any thread may call them.
#pragma once

#include "chat/chat_view_model.h"

#include <string_view>

// The view that the window shows.
extern ChatViewModel ChatView;

// Formats one line (at most 1023 bytes, cut at a character boundary) and adds it to the log.
// Callers pass fixed formats only; received text goes through AppendChatLine.
void AppendLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Adds "<name>: text" to the log; the text is shown byte for byte, never used as a format.
void AppendChatLine(std::string_view name, std::string_view text);
// Empties the user list, the log if clearLog is set, the input line and every UserTable entry.
// Call with ChatLock held (it writes UserTable).
void ResetChatView(bool clearLog);
// The user-list operations of the roster rules.
void AddUserName(std::string_view name);
void RemoveUserName(std::string_view name);
