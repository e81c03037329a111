// The operations through which the handlers and the commands change what the window shows. They
// act on the view model ChatView, which the window observes; any thread may call them.
#pragma once

#include "chat/program_state.h"
#include "wire/formatting.h"
#include "wire/protocol.h"

#include <cstdint>
#include <string_view>

// Adds one line to the log as it stands.
void AppendLogLine(std::string_view line);
// Formats one line like a message (at most 1023 bytes; an overlong one loses the end of its last
// text argument, between characters) and adds it to the log. Callers pass fixed formats only;
// received text goes through AppendChatLine.
template <class... Args> void AppendLog(const char* format, Args... args) {
    char line[SEND_BUFFER_SIZE];
    const int length = FormatInto(line, format, args...);
    AppendLogLine(std::string_view(line, static_cast<size_t>(length)));
}
// Adds "<name>: text" to the log, name and text as ShownText shows them: never used as a format,
// and never more than the one line. The text is bounded like a typed line, at 1023 bytes.
void AppendChatLine(std::string_view name, std::string_view text);
// Empties the user list, the log if clearLog is set, the input line and every UserTable entry.
// Needs ChatLock (it writes UserTable).
void ResetChatView(bool clearLog);
// The user list: one entry per participant id (HOST_ID for the host), the name as ShownText shows
// it. A name for an id that is listed replaces that entry in place; otherwise it is appended.
void SetUserName(int64_t id, std::string_view name);
void RemoveUserName(int64_t id);

// What lives beside the chat and follows it (files offered in its lines): told of every chat line
// with the writer's name and text as they arrived, and of every reset of the view (a room begins,
// or the host has gone). Called under ChatLock on the calling thread; must return at once and
// never wait for another thread.
struct ChatWatcher {
    void (*chatLine)(std::string_view name, std::string_view text) = nullptr;
    void (*viewReset)() = nullptr;
};
void SetChatWatcher(ChatWatcher watcher);
