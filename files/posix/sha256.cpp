// Sha256 and the random source on Linux: OpenSSL's libcrypto and getrandom.
#include "files/sha256.h"
#include "files/random_id.h"

#include <openssl/evp.h>
#include <sys/random.h>

#include <cerrno>

struct Sha256::State {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    bool started = false;
    ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state(std::make_unique<State>()) {
    state->started =
        state->context != nullptr && EVP_DigestInit_ex(state->context, EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() = default;

bool Sha256::ready() const {
    return state->started;
}

void Sha256::update(const void* data, size_t size) {
    if (state->started && size > 0)
        state->started = EVP_DigestUpdate(state->context, data, size) == 1;
}

std::string Sha256::finishHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool done =
        state->started && EVP_DigestFinal_ex(state->context, digest, &length) == 1 && length == 32;
    state->started = EVP_DigestInit_ex(state->context, EVP_sha256(), nullptr) == 1;
    return done ? HexOf(digest, length) : std::string();
}

bool SystemRandomBytes(void* buffer, size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t got = ::getrandom(bytes, size, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}
