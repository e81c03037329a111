// What a client does with the host's messages: the roster, chat lines and the host's departure.
#pragma once

#include <cstdint>

class ChatClient;

// The ClientDataHandler of the window's client. Takes ChatLock for the whole block.
void OnClientData(char* bytes, int32_t count);
// The ClientLostHandler of the window's client: a connection that ended without the host's
// departure message shows as that departure.
void OnClientLost(ChatClient* client);
// Destroys, on the user-interface thread, the clients whose connections ended; their receive
// threads have ended or are about to.
void ReapRetiredClients();
