// Sha256: the SHA-256 digest of a stream of bytes fed in pieces, as 64 lowercase hex digits. The
// platform's own implementation does the work: OpenSSL's libcrypto on Linux (files/posix/),
// bcrypt.dll on Windows (files/windows/).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False when the platform could not make a hasher; every digest is then empty.
    bool ready() const;
    void update(const void* data, size_t size);
    // The digest of everything fed since the start (or the last finish); the object starts over.
    std::string finishHex();

private:
    struct State;
    std::unique_ptr<State> state;
};

// Whether text has the shape of a digest: 64 lowercase hex digits.
bool IsSha256Hex(std::string_view text);
