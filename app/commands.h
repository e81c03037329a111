// The window's commands, as plain functions of the texts in its fields, so that any front-end
// (and the tests) can drive them. All run on the user-interface thread.
#pragma once

#include <string>

// The texts of the Name, IP and Port fields as the window holds them (UTF-8).
struct FieldTexts {
    std::string name;
    std::string address;
    std::string port;
};

// Connect: ends any client, clears the view, reads the fields, connects and logs in.
void ConnectCommand(const FieldTexts& fields);
// Host: ends any server, clears the view, reads the fields and opens the room.
void HostCommand(const FieldTexts& fields);
// Enter in the input line: the text goes to the live client, else to the live server, else
// nowhere.
void EnterCommand(const std::string& text);
// Closing the window: ends the live roles before the program quits.
void CloseCommand();
