// The file service: how the host's FileRelay and each peer's FilePeer talk, on connections of
// their own beside the room's chat connections, which carry nothing of it.
//
// The service listens on the TCP port one above the room's (one below when the room's is 65535),
// so that anyone who reaches the room reaches it without being told; a host that passes no files
// has nothing there and a peer's connect is refused. The service speaks first on every
// connection, so that a chat host that happened to hold the port would hear nothing from us.
// Lines end in "\n", fields are separated by one space, at most MAX_SERVICE_LINE bytes.
//
//   service:  PARLOX-FILES 1
//   peer:     SESSION                        the peer's one control connection; then, any order:
//     peer -> service:  OFFER TAG SIZE SHA256 | WITHDRAW ID | WATCH ID SIZE SHA256
//     service -> peer:  OFFERED TAG ID | REFUSED TAG REASON | LIVE ID SIZE SHA256 |
//                       NONE ID SIZE SHA256 | GONE ID | SEND ID TICKET
//     (LIVE and NONE answer a WATCH: registered, or not; GONE: a watched or own offer ended)
//   peer:     GET ID SIZE SHA256             a download; the service answers FILE SIZE, then
//                                            (DATA N, N bytes)..., then END; or ERR REASON instead
//                                            of any of them
//   peer:     PUT TICKET                     the offerer's upload for a SEND: SIZE bytes follow,
//                                            then the offerer shuts its sending side
//   peer:     FAIL TICKET                    the offerer cannot read the file for that SEND
//
// TAG is a number the peer picks to match the answer to its OFFER; IDs and TICKETs are RandomIds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr char SERVICE_GREETING[] = "PARLOX-FILES 1";
inline constexpr size_t MAX_SERVICE_LINE = 256;

// The number to give TcpSocket (which byte-swaps it like the room's port) for the file service of
// the room on typedPort.
uint16_t FileServicePort(uint16_t typedPort);
// The TCP port itself, as people and firewalls know it.
uint16_t FileServiceTcpPort(uint16_t typedPort);

// The line's fields split at single spaces, at most `most`: the last one keeps the rest of the
// line, spaces and all.
std::vector<std::string_view> Fields(std::string_view line, size_t most);
// A time limit as people read it: "30 s", "0.5 s".
std::string SecondsText(int milliseconds);
// A size field: decimal digits without sign or leading zeros, at most MAX_FILE_SIZE.
bool ReadFileSize(std::string_view digits, uint64_t& size);
