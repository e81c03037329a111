// The window operations as changes of the view model ChatView.
#include "chat/window_ops.h"

#include "text/shown_text.h"
#include "wire/formatting.h"
#include "wire/protocol.h"

#include <atomic>
#include <string>

namespace {

// Read under ChatLock by the handlers, set by the user-interface thread at any time.
std::atomic<void (*)(std::string_view, std::string_view)> WatchedLine{nullptr};
std::atomic<void (*)()> WatchedReset{nullptr};

} // namespace

void SetChatWatcher(ChatWatcher watcher) {
    WatchedLine = watcher.chatLine;
    WatchedReset = watcher.viewReset;
}

void AppendLogLine(std::string_view line) {
    ChatView.appendLine(std::string(line));
}

void AppendChatLine(std::string_view name, std::string_view text) {
    // The text is copied, never formatted: a '%' in it is an ordinary character. It is bounded
    // like a typed line, at 1023 bytes, and shown on one line whatever breaks it holds.
    const std::string shownName = ShownText(name);
    std::string line = "<" + shownName + ">: ";
    line += ShownText(CutToCharBoundary(text, SEND_BUFFER_SIZE - 1));
    ChatView.appendLine(std::move(line), shownName.size());
    if (const auto watcher = WatchedLine.load())
        watcher(name, text);
}

void ResetChatView(bool clearLog) {
    ChatLock.assertHeld("ResetChatView");
    ChatView.reset(clearLog);
    for (std::string& name : UserTable)
        name.clear();
    if (const auto watcher = WatchedReset.load())
        watcher();
}

void SetUserName(int64_t id, std::string_view name) {
    ChatView.setUser(id, ShownText(name));
}

void RemoveUserName(int64_t id) {
    ChatView.removeUser(id);
}
