// Conversions between the program's UTF-8 text and Windows' UTF-16: the dialog's controls, file
// names, DNS-SD names, the command line and the system's messages. Windows only (text/windows/).
#pragma once

#include <string>
#include <string_view>

// Bytes that are not UTF-8 become U+FFFD, as the Qt window shows them.
std::wstring WideFromUtf8(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf8FromWide(std::wstring_view text);
