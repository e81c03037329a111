// The client role's commands, on the user-interface thread.
#pragma once

#include "commands/field_texts.h"

#include <string>

// Connect: ends any client, clears the view, reads the fields, connects and logs in.
void ConnectCommand(const FieldTexts& fields);
// Logs off, closes and destroys the live client, if any.
void ClientTeardown();
// The chat message for a typed line, formatted in SendBuffer and copied out so that it can be
// sent after ChatLock is released; empty for an empty line, which is not sent. Needs ChatLock.
std::string ClientMessage(const std::string& text);
