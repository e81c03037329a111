// The program-wide state shared by the window's commands and the two message handlers, and the
// lock that guards it.
#pragma once

#include "model/chat_view_model.h"
#include "net/checked_mutex.h"
#include "wire/formatting.h"
#include "wire/protocol.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

class ChatClient;
class ChatServer;

// ChatLock guards every variable below but ChatView, and makes each handler call and each command
// step one unit. Lock order: ChatLock before a client's or a slot's own lock, never after. Never
// held while waiting for a thread, the network, a daemon or the disk. A function documented as
// needing ChatLock checks that its caller holds it (ChatLock.assertHeld).
extern CheckedMutex ChatLock;

// The names announced for participant ids 0..31; an empty name marks an id without one.
extern std::array<std::string, MAX_CLIENTS> UserTable;
// On a client: the host's name from its greeting.
extern std::string HostName;

inline constexpr size_t FIELD_LIMIT = 99; // bytes kept of the Name and IP fields

extern std::string LocalName;             // the Name field as last read by Connect or Host
extern std::string TargetAddress;         // the IP field, or the address Connect resolved it to
extern uint16_t PortNumber;               // the Port field, as typed (not byte-swapped)
extern char SendBuffer[SEND_BUFFER_SIZE]; // where outgoing messages are formatted

// The live client and server, owned by the window's commands.
extern std::unique_ptr<ChatClient> ActiveClient;
extern std::unique_ptr<ChatServer> ActiveServer;

// The view that the window shows. Not guarded by ChatLock: the model orders its changes itself,
// and any thread may change it, with or without ChatLock held.
extern ChatViewModel ChatView;

// Ends the live server, if any, the one way every host leaves: its departure to every client
// under ChatLock, the stop outside it (the stop waits for the slot readers, which may be waiting
// for ChatLock), then its destruction. Called without ChatLock, on the thread that owns the
// server; true when there was one.
bool EndActiveServer();
