// The host role's commands, on the user-interface thread.
#pragma once

#include "commands/field_texts.h"

#include <string>

// Host: ends any server, clears the view, reads the fields and opens the room. True when the room
// listens; otherwise the log shows why not.
bool HostCommand(const FieldTexts& fields);
// Announces the host's departure, stops and destroys the live server, if any.
void HostTeardown();
// Shows the host's own line and sends it to every client of ActiveServer. Needs ChatLock
// and ActiveServer set.
void HostSend(const std::string& text);
