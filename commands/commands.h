// The window's commands, as plain functions of the texts in its fields, so that any front-end
// (and the tests) can drive them. All run on the user-interface thread.
#pragma once

#include "commands/client_commands.h"
#include "commands/field_texts.h"
#include "commands/host_commands.h"

#include <string>

// Enter in the input line: the text goes to the live client, else to the live server, else
// nowhere.
void EnterCommand(const std::string& text);
// Closing the window: ends the live roles before the program quits.
void CloseCommand();
