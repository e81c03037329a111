// Discovery: announcing the window's room on the local network (DNS-SD, service type
// _parlox._tcp) and finding the rooms others announce, over the platform's DNS-SD service. The
// backend is chosen when building: avahi/ (Linux) or dnsapi/ (Windows).
#pragma once

#include "discovery/room_list.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

inline constexpr char SERVICE_TYPE[] = "_parlox._tcp";

// The TCP port a room listens on for the number typed into its Port field, and back: the same
// two bytes swapped, as every peer puts the typed number into its socket addresses.
inline uint16_t SwappedPort(uint16_t port) {
    return static_cast<uint16_t>((port >> 8) | (port << 8));
}

struct Announcement {
    std::string name;       // the instance name, at most 63 bytes of UTF-8
    uint16_t wirePort = 0;  // the TCP port the room listens on: the SRV port
    uint16_t typedPort = 0; // the number typed into the Port field
    int people = 1;         // in the room, host included
};

// The TXT strings of an announcement: port=, users= and v=1.
std::vector<std::string> AnnouncementTxt(const Announcement& announcement);

// Owned by the user-interface thread. Every call returns at once: talking to the platform's
// service happens on the backend's own thread, which also keeps `found` current from
// construction until destruction, and says there why finding does not work when it does not. A
// room announced is withdrawn (a goodbye, so browsers drop it at once) by withdraw() and by the
// destruction. The window's own room is never put into `found`.
class Discovery {
public:
    virtual ~Discovery() = default;
    // Announces the room, replacing whatever was announced before.
    virtual void announce(const Announcement& announcement) = 0;
    // A new head count for the room announced; nothing without one.
    virtual void setPeople(int people) = 0;
    virtual void withdraw() = 0;
};

// The platform's backend, keeping found current; found must outlive it.
std::unique_ptr<Discovery> CreateDiscovery(RoomList& found);
