// FoundRoom: one room found on the network, as the Rooms menu shows it and Connect needs it.
#pragma once

#include <cstdint>
#include <string>

struct FoundRoom {
    std::string name;    // shown as it is: valid UTF-8, no control characters, at most 64 of them
    std::string address; // dotted IPv4
    uint16_t port = 0;   // the number to type into the Port field (not byte-swapped)
    int people = 0;      // host included; 0 when the announcement does not say
};
