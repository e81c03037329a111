// BridgeOptions: what a bridge joins and how, as parlox-bridge's command line gives it.
#pragma once

#include "bridge/irc_transport.h"

#include <cstdint>
#include <string>

struct BridgeOptions {
    std::string roomAddress; // as typed into IP: a dotted address or a host name
    uint16_t roomPort = 0;   // as typed into Port
    std::string ircHost;
    uint16_t ircPort = 0; // an ordinary TCP port
    std::string channel;
    std::string nick = "bridge";
    bool tls = false;
    TlsSettings tlsSettings; // fingerprint: 64 lower-case hex digits
    bool notices = false;
    size_t queueLines = 100; // lines held for a side that cannot take them yet
    unsigned paceMs = 1000;  // one line to the channel per this, after a burst
};
