// Routing of the input line and of the window's close to the live roles.
#include "commands/commands.h"

#include "chat/chat_client.h"
#include "chat/client_messages.h"
#include "chat/program_state.h"
#include "commands/client_commands.h"
#include "commands/host_commands.h"

#include <mutex>

void EnterCommand(const std::string& text) {
    ChatClient* client = nullptr;
    std::string message;
    {
        // Choosing the role and taking what it needs is one step: a client that its receive
        // thread retires meanwhile is either still the live one or already gone.
        std::lock_guard<CheckedMutex> guard(ChatLock);
        if (ActiveClient) {
            client = ActiveClient.get();
            message = ClientMessage(text);
        } else if (ActiveServer) {
            HostSend(text);
        }
    }
    // The send may wait for a stalled host, so it runs outside ChatLock. The client stays valid:
    // only this thread destroys clients, retired ones included.
    if (client != nullptr && !message.empty())
        client->send(message.c_str());
}

void CloseCommand() {
    // Both roles end, the client first, so that the room's clients hear the host's departure
    // instead of a silent drop.
    ClientTeardown();
    HostTeardown();
    ReapRetiredClients();
}
