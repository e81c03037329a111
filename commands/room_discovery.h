// Finding rooms and announcing the window's own, for both front-ends: the room list the Rooms
// menu shows, and the announcement that the Host command starts and ends.
#pragma once

#include "discovery/room_list.h"

#include <cstdint>
#include <string>
#include <string_view>

// The rooms found on the network, observed by the Rooms menu.
extern RoomList FoundRooms;

// The user-interface thread owns discovery: it starts before the window opens and stops after it
// closed. Without it (the window's tests), announcing does nothing and FoundRooms stays as set.
void StartRoomDiscovery();
void StopRoomDiscovery();

// The room's instance name for the Name field's text: the text cut to 63 bytes between
// characters; "Parlox room on <machine>" when it is empty or still "<name>".
std::string RoomInstanceName(std::string_view name, std::string_view machine);

// User-interface thread, without ChatLock; both return at once. Announces the room that
// ActiveServer hosts, under the name and typed port given, and keeps its head count current
// until WithdrawRoom.
void AnnounceRoom(std::string_view name, uint16_t typedPort);
void WithdrawRoom();
