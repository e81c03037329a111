// Sha256 and the random source on Windows: bcrypt.dll, part of every Windows since Vista.
#include "files/sha256.h"
#include "files/random_id.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>

struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool good = false;

    bool begin() {
        if (hash != nullptr)
            ::BCryptDestroyHash(hash);
        hash = nullptr;
        good = algorithm != nullptr &&
               BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
        return good;
    }
    ~State() {
        if (hash != nullptr)
            ::BCryptDestroyHash(hash);
        if (algorithm != nullptr)
            ::BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

Sha256::Sha256() : state(std::make_unique<State>()) {
    if (!BCRYPT_SUCCESS(
            ::BCryptOpenAlgorithmProvider(&state->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        state->algorithm = nullptr;
    state->begin();
}

Sha256::~Sha256() = default;

bool Sha256::ready() const {
    return state->good;
}

void Sha256::update(const void* data, size_t size) {
    // BCryptHashData takes at most 4 GiB minus one byte per call.
    auto* bytes = static_cast<const unsigned char*>(data);
    while (state->good && size > 0) {
        const ULONG piece = static_cast<ULONG>(std::min<size_t>(size, 1u << 30));
        state->good =
            BCRYPT_SUCCESS(::BCryptHashData(state->hash, const_cast<PUCHAR>(bytes), piece, 0));
        bytes += piece;
        size -= piece;
    }
}

std::string Sha256::finishHex() {
    unsigned char digest[32];
    const bool done =
        state->good && BCRYPT_SUCCESS(::BCryptFinishHash(state->hash, digest, sizeof digest, 0));
    state->begin();
    return done ? HexOf(digest, sizeof digest) : std::string();
}

bool SystemRandomBytes(void* buffer, size_t size) {
    return BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, static_cast<PUCHAR>(buffer),
                                            static_cast<ULONG>(size),
                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}
