// parlox-bridge's command line, read and checked.
#pragma once

#include "bridge/bridge_options.h"

#include <optional>
#include <string>
#include <vector>

inline constexpr char BRIDGE_USAGE[] =
    "usage: parlox-bridge --room ADDRESS:PORT --irc HOST:PORT --channel '#name' [--nick NICK]\n"
    "                     [--tls] [--ca FILE | --fingerprint SHA256] [--notices]\n"
    "                     [--queue LINES] [--pace MS]\n";

// The options, or none with the reason (one line) in error. args leaves out the program's name.
std::optional<BridgeOptions> ParseBridgeCommandLine(const std::vector<std::string>& args,
                                                    std::string& error);
