// What the window's buttons, input line and close box run. The window calls these instead of the
// commands directly so that its tests can watch the calls without a network.
#pragma once

#include "commands/commands.h"

#include <functional>
#include <string>

struct WindowCommands {
    std::function<void(const FieldTexts&)> connect = ConnectCommand;
    std::function<void(const FieldTexts&)> host = HostCommand;
    std::function<void(const std::string&)> enter = EnterCommand;
    std::function<void()> close = CloseCommand;
};
