#include "tools/erase_pattern.h"

#include <cstring>
#include <memory>
#include <openssl/evp.h>
#include <sys/random.h>

namespace veld {

bool RandomPattern::Init() {
    size_t got = 0;
    while (got < key_.size()) {
        ssize_t n = ::getrandom(key_.data() + got, key_.size() - got, 0);
        if (n <= 0) return false;
        got += size_t(n);
    }
    return true;
}

bool RandomPattern::Fill(uint64_t chunkIndex, uint8_t* out, size_t length) const {
    // IV: 32-bit block counter 0, then a 96-bit nonce holding the chunk index,
    // so no two chunks share stream bytes under one key.
    uint8_t iv[16] = {};
    for (int i = 0; i < 8; ++i) iv[4 + i] = uint8_t(chunkIndex >> (8 * i));
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_chacha20(), nullptr, key_.data(), iv) != 1) return false;
    // The stream itself: the cipher applied to zeros, in place.
    std::memset(out, 0, length);
    size_t done = 0;
    while (done < length) {
        int step = int(std::min<size_t>(length - done, 1 << 30));
        int produced = 0;
        if (EVP_EncryptUpdate(ctx.get(), out + done, &produced, out + done, step) != 1 || produced != step)
            return false;
        done += size_t(step);
    }
    return true;
}

}  // namespace veld
