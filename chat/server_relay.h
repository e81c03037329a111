// What the host does with its clients' messages: logins answered with the roster, lines shown and
// relayed to everybody, departures announced.
#pragma once

#include <cstdint>

// The ServerDataHandler of the window's server. Takes ChatLock for the whole block.
void OnServerData(int32_t slot, char* bytes, int32_t count);
// The ServerLostHandler of the window's server: a client that went away without "logoff" (crash,
// network failure, dropped for not reading) is announced as departed all the same.
void OnServerLost(int32_t slot);
