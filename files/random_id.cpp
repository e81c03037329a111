// RandomId and the hex shapes of ids and digests.
#include "files/random_id.h"

#include "files/sha256.h"

namespace {

bool IsLowerHex(std::string_view text, size_t digits) {
    if (text.size() != digits)
        return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

} // namespace

std::string HexOf(const unsigned char* bytes, size_t size) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * size);
    for (size_t i = 0; i < size; ++i) {
        hex += DIGITS[bytes[i] >> 4];
        hex += DIGITS[bytes[i] & 15];
    }
    return hex;
}

std::string RandomId() {
    unsigned char bytes[RANDOM_ID_DIGITS / 2];
    if (!SystemRandomBytes(bytes, sizeof bytes))
        return {};
    return HexOf(bytes, sizeof bytes);
}

bool IsRandomId(std::string_view text) {
    return IsLowerHex(text, RANDOM_ID_DIGITS);
}

bool IsSha256Hex(std::string_view text) {
    return IsLowerHex(text, 64);
}
