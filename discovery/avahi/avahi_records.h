// What Avahi's resolver reports of a service, as a RoomRecord.
#pragma once

#include "discovery/room_record.h"

#include <avahi-common/address.h>
#include <avahi-common/strlst.h>

#include <cstdint>

// The most TXT strings read of one service; the ones we look for come first in any sane record.
inline constexpr size_t TXT_STRING_LIMIT = 64;

// address may be null or IPv6 (the record then has no IPv4 address); port is the SRV port.
RoomRecord RecordFromAvahi(const char* name, const AvahiAddress* address, uint16_t port,
                           AvahiStringList* txt);
