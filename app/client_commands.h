// The client role's commands, on the user-interface thread.
#pragma once

#include "app/field_texts.h"

#include <string>

// Connect: ends any client, clears the view, reads the fields, connects and logs in.
void ConnectCommand(const FieldTexts& fields);
// Logs off, closes and destroys the live client, if any.
void ClientTeardown();
// Formats the line as a chat message and sends it through ActiveClient. Call with ChatLock held
// and ActiveClient set.
void ClientSend(const std::string& text);
