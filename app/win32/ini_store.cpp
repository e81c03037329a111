// IniStore: the private-profile calls on a UTF-16 file, so that names in any script survive.
#include "app/win32/ini_store.h"

#include "text/wide_text.h"

#include <windows.h>

#include <utility>

namespace {

constexpr const wchar_t* SECTION = L"Parlox";
// What a missing key reads as: a control character, which no value that is written holds.
constexpr const wchar_t* MISSING = L"\x01";

} // namespace

IniStore::IniStore(std::wstring file) : path(std::move(file)) {}

std::optional<std::string> IniStore::read(std::string_view key) {
    std::wstring value(MAX_VALUE + 1, L'\0');
    const DWORD length =
        ::GetPrivateProfileStringW(SECTION, WideFromUtf8(key).c_str(), MISSING, value.data(),
                                   static_cast<DWORD>(value.size()), path.c_str());
    value.resize(length);
    if (value == MISSING)
        return std::nullopt;
    return Utf8FromWide(value);
}

void IniStore::write(std::string_view key, std::string_view value) {
    // The profile calls write UTF-16 only into a file that already starts with its byte order
    // mark; otherwise they write the ANSI code page and lose every other letter.
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            const wchar_t mark = 0xFEFF;
            DWORD written = 0;
            ::WriteFile(file, &mark, sizeof mark, &written, nullptr);
            ::CloseHandle(file);
        }
    }
    ::WritePrivateProfileStringW(SECTION, WideFromUtf8(key).c_str(), WideFromUtf8(value).c_str(),
                                 path.c_str());
}
