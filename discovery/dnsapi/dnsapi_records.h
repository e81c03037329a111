// What dnsapi.dll's resolver reports of a service, as a RoomRecord, and the names it works in.
#pragma once

#include "discovery/room_record.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <windns.h>

#include <string>
#include <string_view>

// The most TXT properties read of one service.
inline constexpr size_t PROPERTY_LIMIT = 64;

// The instance part of a full service name ("FoundRoom\.one._parlox._tcp.local" gives
// "FoundRoom.one", as UTF-8): DNS escapes undone, the service type and domain taken off.
std::string InstanceOfServiceName(std::wstring_view fullName);
// The full service name of an instance: dots and backslashes in it escaped, then the service
// type and the local domain.
std::wstring ServiceNameOfInstance(std::string_view instance);

RoomRecord RecordFromServiceInstance(const DNS_SERVICE_INSTANCE& instance);
