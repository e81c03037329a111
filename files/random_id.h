// Ids nobody can guess: 128 bits from the system's random source, as 32 lowercase hex digits.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr size_t RANDOM_ID_DIGITS = 32;

// A fresh id; empty when the system's random source failed.
std::string RandomId();
// Whether text has the shape of an id: RANDOM_ID_DIGITS lowercase hex digits.
bool IsRandomId(std::string_view text);
// Fills buffer from the system's random source (per platform); false when it could not.
bool SystemRandomBytes(void* buffer, size_t size);
// Lowercase hex digits of bytes.
std::string HexOf(const unsigned char* bytes, size_t size);
