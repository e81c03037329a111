// WirePort: how a typed port number goes into a socket address, for every socket backend.
#pragma once

#include <cstdint>
#include <cstring>

// The port number goes into the address with its low byte first and is never converted to
// network order: the wire reads the field big-endian, so the number 5000 is TCP port 34835.
// Every peer of this program does the same, which is how two Port fields holding the same
// number meet. Written byte by byte so the result does not depend on the host's byte order.
inline uint16_t WirePort(uint16_t port) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(port & 0xff),
                                    static_cast<unsigned char>(port >> 8)};
    uint16_t field;
    std::memcpy(&field, bytes, sizeof field);
    return field;
}
