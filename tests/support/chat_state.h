// Resetting the program-wide chat state between tests.
#pragma once

#include "chat/chat_client.h"
#include "chat/chat_server.h"
#include "chat/client_messages.h"
#include "chat/program_state.h"
#include "chat/window_ops.h"
#include "model/ui_tasks.h"
#include "wire/protocol.h"

#include <memory>
#include <mutex>

// Ends any live roles and empties the view, the tables and the names.
inline void ResetChatState() {
    std::unique_ptr<ChatClient> client;
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        client = std::move(ActiveClient);
    }
    client.reset();
    EndActiveServer();
    RunUiTasks();
    std::lock_guard<CheckedMutex> guard(ChatLock);
    ResetChatView(true);
    HostName.clear();
    LocalName.clear();
}

// The log's lines, for comparing with expected lines.
inline std::string LogText() {
    return ChatView.logText();
}

// Waits until the handler call now running (if any) has finished: handlers hold ChatLock for a
// whole block, so a broadcast that one client has seen has also reached every other slot's queue
// once this returns.
inline void SettleHandlers() {
    std::lock_guard<CheckedMutex> guard(ChatLock);
}
