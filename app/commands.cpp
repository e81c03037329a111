// Routing of the window's input line and close to the live roles.
#include "app/commands.h"

void ConnectCommand(const FieldTexts&) {}
void HostCommand(const FieldTexts&) {}
void EnterCommand(const std::string&) {}
void CloseCommand() {}
