// CurrentRoom: the chat room the window hosts or joined, as transcripts name it.
#pragma once

#include "commands/field_texts.h"

#include <cstdint>
#include <string>

struct CurrentRoom {
    bool hosting = false;
    std::string address; // the host's address as typed, or this machine's name when hosting
    uint16_t port = 0;   // the Port field's number, as typed (not byte-swapped)
};

// The room that Connect (hosting false) or Host is about to open with these fields.
CurrentRoom RoomOf(bool hosting, const FieldTexts& fields);
// "hosting on <address> port <port>" or "connected to <address> port <port>".
std::string RoomTitle(const CurrentRoom& room);
// A file name for the room's transcript: "hosting-<port>.txt" or "<address>-<port>.txt", any
// character of the address other than a letter, a digit, '.' or '-' written as '_'.
std::string RoomFileName(const CurrentRoom& room);
