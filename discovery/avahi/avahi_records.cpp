// Copying a resolved Avahi service into a RoomRecord: the name, the IPv4 address, the port and at
// most TXT_STRING_LIMIT TXT strings.
#include "discovery/avahi/avahi_records.h"

#include <cstring>

RoomRecord RecordFromAvahi(const char* name, const AvahiAddress* address, uint16_t port,
                           AvahiStringList* txt) {
    RoomRecord record;
    if (name != nullptr)
        record.name = name;
    if (address != nullptr && address->proto == AVAHI_PROTO_INET) {
        // The address is kept in network byte order: its bytes are the dotted form's parts.
        std::array<uint8_t, 4> bytes{};
        std::memcpy(bytes.data(), &address->data.ipv4.address, bytes.size());
        record.ipv4 = bytes;
    }
    record.srvPort = port;
    // A resolver's list holds the strings in the record's order: the daemon's parse of the record
    // puts them last first, and the client library turns them round again as it takes them from
    // the bus. The first ones are kept; where a key repeats, its first copy is the one that counts.
    for (AvahiStringList* entry = txt; entry != nullptr && record.txt.size() < TXT_STRING_LIMIT;
         entry = avahi_string_list_get_next(entry))
        record.txt.emplace_back(reinterpret_cast<const char*>(avahi_string_list_get_text(entry)),
                                avahi_string_list_get_size(entry));
    return record;
}
