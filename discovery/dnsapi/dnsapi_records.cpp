// Copying a resolved dnsapi service instance into a RoomRecord, and the escaping of instance
// names in full service names.
#include "discovery/dnsapi/dnsapi_records.h"

#include "discovery/discovery.h"
#include "text/wide_text.h"

#include <cstring>

namespace {

const std::wstring& Suffix() {
    static const std::wstring suffix = L"." + WideFromUtf8(SERVICE_TYPE) + L".local";
    return suffix;
}

} // namespace

std::string InstanceOfServiceName(std::wstring_view fullName) {
    const std::wstring& suffix = Suffix();
    if (fullName.size() > suffix.size() &&
        ::CompareStringOrdinal(fullName.data() + fullName.size() - suffix.size(),
                               static_cast<int>(suffix.size()), suffix.data(),
                               static_cast<int>(suffix.size()), TRUE) == CSTR_EQUAL) {
        fullName.remove_suffix(suffix.size());
    }
    std::wstring instance;
    for (size_t i = 0; i < fullName.size(); ++i) {
        if (fullName[i] != L'\\' || i + 1 == fullName.size()) {
            instance += fullName[i];
        } else if (i + 3 < fullName.size() && iswdigit(fullName[i + 1]) &&
                   iswdigit(fullName[i + 2]) && iswdigit(fullName[i + 3])) {
            // \DDD: a byte by its decimal value.
            const int value = (fullName[i + 1] - L'0') * 100 + (fullName[i + 2] - L'0') * 10 +
                              (fullName[i + 3] - L'0');
            instance += static_cast<wchar_t>(value & 0xFF);
            i += 3;
        } else {
            instance += fullName[++i];
        }
    }
    return Utf8FromWide(instance);
}

std::wstring ServiceNameOfInstance(std::string_view instance) {
    std::wstring escaped;
    for (wchar_t c : WideFromUtf8(instance)) {
        if (c == L'.' || c == L'\\')
            escaped += L'\\';
        escaped += c;
    }
    return escaped + Suffix();
}

RoomRecord RecordFromServiceInstance(const DNS_SERVICE_INSTANCE& instance) {
    RoomRecord record;
    if (instance.pszInstanceName != nullptr)
        record.name = InstanceOfServiceName(instance.pszInstanceName);
    if (instance.ip4Address != nullptr) {
        // IP4_ADDRESS is in network byte order: its bytes are the dotted form's parts.
        std::array<uint8_t, 4> bytes{};
        std::memcpy(bytes.data(), instance.ip4Address, bytes.size());
        record.ipv4 = bytes;
    }
    record.srvPort = instance.wPort;
    const DWORD count =
        instance.dwPropertyCount < PROPERTY_LIMIT ? instance.dwPropertyCount : PROPERTY_LIMIT;
    for (DWORD i = 0; instance.keys != nullptr && i < count; ++i) {
        if (instance.keys[i] == nullptr)
            continue;
        std::string entry = Utf8FromWide(instance.keys[i]);
        if (instance.values != nullptr && instance.values[i] != nullptr)
            entry += "=" + Utf8FromWide(instance.values[i]);
        record.txt.push_back(std::move(entry));
    }
    return record;
}
