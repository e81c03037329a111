// The client role's commands: Connect, the client send path and the client teardown.
#include "commands/client_commands.h"

#include "chat/chat_client.h"
#include "chat/client_messages.h"
#include "chat/program_state.h"
#include "chat/window_ops.h"
#include "commands/connection_fields.h"
#include "commands/room_files.h"
#include "net/tcp_socket.h"
#include "wire/protocol.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

void ClientTeardown() {
    std::unique_ptr<ChatClient> client;
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        client = std::move(ActiveClient);
    }
    if (!client)
        return;
    EndJoinedFiles();
    // Outside ChatLock: close() waits for the receive thread, which may be waiting for ChatLock.
    client->send(CLIENT_LOGOFF);
    client->close();
}

void ConnectCommand(const FieldTexts& fields) {
    ReapRetiredClients();
    ClientTeardown();
    ChatClient* client;
    std::string address;
    uint16_t port;
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        ResetChatView(true);
        ReadConnectionFields(fields);
        ActiveClient = std::make_unique<ChatClient>(OnClientData, OnClientLost);
        client = ActiveClient.get();
        address = TargetAddress;
        port = PortNumber;
    }
    // The lookup and the connect wait on the network, 5 s at most together, so they run outside
    // ChatLock: a room this window hosts keeps going meanwhile. The client stays valid: only this
    // thread destroys clients, and its receive thread has not started yet.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(TcpSocket::CONNECT_TIMEOUT_MS);
    const auto millisecondsLeft = [&deadline] {
        return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    deadline - std::chrono::steady_clock::now())
                                    .count());
    };
    std::string error;
    bool connected = false;
    if (!IsDottedQuad(address)) {
        std::string resolved;
        if (!LookupSocket.resolveHostWithin(address, millisecondsLeft(), resolved))
            error = LookupSocket.lastError;
        else if (!resolved.empty())
            address = resolved;
    }
    if (error.empty()) {
        connected = client->dial(address, port, millisecondsLeft());
        if (!connected)
            error = client->lastError();
    }

    std::string login;
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        TargetAddress = address;
        if (connected) {
            AppendLog("<<Connected to: %s on port %d>>", TargetAddress.c_str(), PortNumber);
            // An empty name would go out as an empty field, which no host can read and which
            // would swallow the next message: such a client stays nameless without a login.
            if (!LocalName.empty()) {
                FormatInto(SendBuffer, CLIENT_LOGIN_FORMAT, LocalName.c_str());
                login = SendBuffer;
            }
            // Started under ChatLock, after the connected line: what arrives is shown after it.
            client->startReceiving();
        } else {
            AppendLog("<<Error: %s>>", error.c_str());
        }
    }
    if (!login.empty())
        client->send(login.c_str());
    if (connected)
        StartJoinedFiles(address, port);
}

std::string ClientMessage(const std::string& text) {
    ChatLock.assertHeld("ClientMessage");
    if (text.empty())
        return {};
    const std::string line(CutToCharBoundary(text, MAX_LINE_TEXT));
    FormatInto(SendBuffer, CLIENT_MSG_FORMAT, line.c_str());
    return SendBuffer;
}
