// The client role's commands: Connect, the client send path and the client teardown.
#include "app/client_commands.h"

#include "app/connection_fields.h"
#include "chat/chat_client.h"
#include "chat/client_messages.h"
#include "chat/program_state.h"
#include "chat/protocol.h"
#include "chat/window_ops.h"
#include "net/tcp_socket.h"

#include <memory>
#include <mutex>

void ClientTeardown() {
    std::unique_ptr<ChatClient> client;
    {
        std::lock_guard<std::mutex> guard(ChatLock);
        client = std::move(ActiveClient);
    }
    if (!client)
        return;
    // Outside ChatLock: close() waits for the receive thread, which may be waiting for ChatLock.
    client->send(CLIENT_LOGOFF);
    client->close();
}

void ConnectCommand(const FieldTexts& fields) {
    ReapRetiredClients();
    ClientTeardown();
    std::lock_guard<std::mutex> guard(ChatLock);
    ResetChatView(true);
    ReadConnectionFields(fields);
    ActiveClient = std::make_unique<ChatClient>(OnClientData, OnClientLost);
    if (!IsDottedQuad(TargetAddress)) {
        const std::string resolved = LookupSocket.resolveHost(TargetAddress);
        if (!resolved.empty())
            TargetAddress = resolved;
    }
    // The receive thread starts inside connect; what it receives waits for ChatLock, so the
    // connected line and the login come first.
    if (ActiveClient->connect(TargetAddress, PortNumber)) {
        AppendLog("<<Connected to: %s on port %d>>", TargetAddress.c_str(), PortNumber);
        FormatInto(SendBuffer, CLIENT_LOGIN_FORMAT, LocalName.c_str());
        ActiveClient->send(SendBuffer);
    } else {
        AppendLog("<<Error: %s>>", ActiveClient->lastError().c_str());
    }
}

void ClientSend(const std::string& text) {
    FormatInto(SendBuffer, CLIENT_MSG_FORMAT, text.c_str());
    ActiveClient->send(SendBuffer);
}
