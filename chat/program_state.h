// The program-wide state shared by the window's commands and the two message handlers.
#pragma once

#include "chat/formatting.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class ChatClient;
class ChatServer;

// ChatLock guards UserTable, HostName, SendBuffer, LocalName, TargetAddress, PortNumber,
// ActiveClient and ActiveServer, and makes each handler call and each command step one unit.
// Lock order: ChatLock before a client's or a slot's own lock, never after. Never held while
// waiting for a thread to end.
extern std::mutex ChatLock;

inline constexpr size_t FIELD_LIMIT = 99; // bytes kept of the Name and IP fields

extern std::string LocalName;             // the Name field as last read by Connect or Host
extern std::string TargetAddress;         // the IP field, or the address Connect resolved it to
extern uint16_t PortNumber;               // the Port field, as typed (not byte-swapped)
extern char SendBuffer[SEND_BUFFER_SIZE]; // where outgoing messages are formatted

// The live client and server, owned by the window's commands. Guarded by ChatLock.
extern std::unique_ptr<ChatClient> ActiveClient;
extern std::unique_ptr<ChatServer> ActiveServer;

// Ends the live server, if any, the one way every host leaves: its departure to every client
// under ChatLock, the stop outside it (the stop waits for the slot readers, which may be waiting
// for ChatLock), then its destruction. Called without ChatLock, on the thread that owns the
// server; true when there was one.
bool EndActiveServer();
