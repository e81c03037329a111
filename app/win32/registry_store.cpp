// RegistryStore: REG_SZ values read into a bounded buffer; a value of another type or longer than
// MAX_VALUE characters reads as missing.
#include "app/win32/registry_store.h"

#include "text/wide_text.h"

#include <windows.h>

#include <string>

std::optional<std::string> RegistryStore::read(std::string_view key) {
    std::wstring value(MAX_VALUE + 1, L'\0');
    DWORD bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    const LSTATUS status = ::RegGetValueW(HKEY_CURRENT_USER, KEY, WideFromUtf8(key).c_str(),
                                          RRF_RT_REG_SZ, nullptr, value.data(), &bytes);
    if (status != ERROR_SUCCESS)
        return std::nullopt;
    value.resize(bytes / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0')
        value.pop_back();
    return Utf8FromWide(value);
}

void RegistryStore::write(std::string_view key, std::string_view value) {
    HKEY handle = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle,
                          nullptr) != ERROR_SUCCESS)
        return;
    const std::wstring wide = WideFromUtf8(value);
    ::RegSetValueExW(handle, WideFromUtf8(key).c_str(), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(wide.c_str()),
                     static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(handle);
}
