// The client's message handling: keeps the user list, UserTable and HostName in step with the
// host, shows chat lines, and winds the client down when the host departs or vanishes.
#include "chat/client_messages.h"

#include "chat/chat_client.h"
#include "chat/program_state.h"
#include "chat/window_ops.h"
#include "model/ui_tasks.h"
#include "wire/block_parser.h"
#include "wire/protocol.h"

#include <memory>
#include <string>
#include <vector>

namespace {

// Clients taken out of ActiveClient by their own receive thread, waiting to be destroyed on the
// user-interface thread. Guarded by ChatLock.
std::vector<std::unique_ptr<ChatClient>> RetiredClients;

// The host has gone. Empties the list and the tables, writes the departure lines
// and takes the client out of ActiveClient for the user-interface thread to destroy.
void ShowHostDeparture(ChatClient* client) {
    ChatLock.assertHeld("ShowHostDeparture");
    ResetChatView(false);
    AppendLog("----------------------------------------");
    AppendLog("Server disconnected");
    AppendLog("----------------------------------------");
    if (client != nullptr && ActiveClient.get() == client) {
        RetiredClients.push_back(std::move(ActiveClient));
        PostUiTask(ReapRetiredClients);
    }
}

} // namespace

void OnClientData(char* bytes, int32_t count) {
    std::lock_guard<CheckedMutex> guard(ChatLock);
    BlockParser parser(bytes, static_cast<size_t>(count), Receiver::Client);
    Message message;
    while (parser.next(message)) {
        // An id that names neither the host nor a UserTable entry makes the message meaningless.
        if (message.id != HOST_ID && !IsClientId(message.id))
            continue;
        const bool fromHost = message.id == HOST_ID;
        switch (message.kind) {
        case MessageKind::Logoff:
            if (fromHost) {
                ChatClient* client = ChatClient::current();
                if (client == nullptr)
                    client = ActiveClient.get();
                if (client)
                    client->close(); // on its own receive thread: returns at once
                ShowHostDeparture(client);
                return; // nothing after the host's departure counts
            }
            RemoveUserName(message.id);
            UserTable[message.id].clear();
            break;
        case MessageKind::Login:
            // A name for an id that has one replaces it, in the table and in the list.
            if (fromHost)
                HostName = message.field;
            else
                UserTable[message.id] = message.field;
            SetUserName(message.id, message.field);
            break;
        case MessageKind::Msg:
            AppendChatLine(fromHost ? HostName : UserTable[message.id], message.field);
            break;
        }
    }
}

void OnClientLost(ChatClient* client) {
    std::lock_guard<CheckedMutex> guard(ChatLock);
    // A client that the window is already tearing down went away by its own close.
    if (ActiveClient.get() != client)
        return;
    ShowHostDeparture(client);
}

void ReapRetiredClients() {
    std::vector<std::unique_ptr<ChatClient>> retired;
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        retired.swap(RetiredClients);
    }
    retired.clear(); // joins each receive thread, outside ChatLock
}
