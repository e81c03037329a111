// Dial: a TCP connection to a host given by name or dotted address, looked up and connected
// within one time limit.
#pragma once

#include "net/tcp_socket.h"

#include <cstdint>
#include <memory>
#include <string>

// port is the number as the program's sockets take it (see WirePort): a room's typed Port, or
// ProgramPortFor() of an ordinary TCP port. The connection, or none with the reason in error.
std::unique_ptr<TcpSocket> DialWithin(const std::string& host, uint16_t port, int timeoutMs,
                                      std::string& error);

// The number to give the program's sockets so that they use the ordinary TCP port tcpPort: the
// sockets place every number with its two bytes swapped (the room's wire rule), so the swap is
// undone here for servers that are no room.
inline uint16_t ProgramPortFor(uint16_t tcpPort) {
    return static_cast<uint16_t>((tcpPort >> 8) | (tcpPort << 8));
}
