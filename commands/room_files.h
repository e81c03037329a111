// Files in the window's room, for both front-ends: the host's file service while the window
// hosts, and the window's FilePeer for the room it last joined or opened. The commands start and
// end them; the Files menu shows RoomFileOffers() and calls the operations below. All on the
// user-interface thread unless said otherwise.
#pragma once

#include "files/file_peer.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// After the Host command opened the room on typedPort: the file service starts beside it, and
// the window's files follow the room. A service that cannot start says so in the log; the room
// works without it.
void StartHostedFiles(uint16_t typedPort);
// Before the hosted room ends.
void EndHostedFiles();
// After Connect joined the room at address (dotted) on typedPort; and before the client ends.
void StartJoinedFiles(const std::string& address, uint16_t typedPort);
void EndJoinedFiles();

// Told whenever what RoomFileOffers() shows may have changed. Called on any thread; must return at
// once. One observer at a time (the Files menu).
void SetRoomFilesObserver(std::function<void()> observer);

// Whether the window is in a room whose files it can offer and save.
bool InRoomWithFiles();
// The Files menu's entries, newest first; empty outside a room.
std::vector<OfferView> RoomFileOffers();
// The user's choices in the Files menu, dialogs and drops. Paths are UTF-8. Outside a room, an
// offer says so in the log and the others do nothing.
void OfferRoomFile(const std::string& path);
void SaveRoomFile(const std::string& offerId, const std::string& target);
void CancelRoomFile(const std::string& offerId);
void WithdrawRoomFile(const std::string& offerId);
