// Routing of the input line and of the window's close to the live roles.
#include "app/commands.h"

#include "app/client_commands.h"
#include "app/host_commands.h"
#include "chat/client_messages.h"
#include "chat/program_state.h"

#include <mutex>

void EnterCommand(const std::string& text) {
    // Choosing the role and using it is one step: a client that its receive thread retires
    // meanwhile is either still there or already gone, never half closed.
    std::lock_guard<std::mutex> guard(ChatLock);
    if (ActiveClient)
        ClientSend(text);
    else if (ActiveServer)
        HostSend(text);
}

void CloseCommand() {
    // Both roles end, the client first, so that the room's clients hear the host's departure
    // instead of a silent drop.
    ClientTeardown();
    HostTeardown();
    ReapRetiredClients();
}
