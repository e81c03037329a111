// A file system path from the program's UTF-8 text, the same on every platform (UTF-16 on
// Windows, the bytes themselves elsewhere).
#pragma once

#include <filesystem>
#include <string>

inline std::filesystem::path PathFromUtf8(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}
