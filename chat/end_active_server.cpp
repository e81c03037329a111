// The one way a host leaves.
#include "chat/chat_server.h"
#include "chat/program_state.h"
#include "wire/protocol.h"

bool EndActiveServer() {
    ChatServer* server;
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        server = ActiveServer.get();
        if (!server)
            return false;
        server->broadcast(HOST_DEPARTURE);
    }
    // Only the owning thread destroys the server, so the pointer stays good meanwhile; handlers
    // that run during the stop still find ActiveServer and may answer through it.
    server->stop();
    std::unique_ptr<ChatServer> stopped;
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        stopped = std::move(ActiveServer);
    }
    return true;
}
