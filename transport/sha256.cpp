#include "transport/sha256.h"

#include <openssl/sha.h>

namespace talvor {

std::string sha256_hex(std::span<const std::uint8_t> bytes)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(bytes.data(), bytes.size(), digest);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : digest) {
        out += hex[b >> 4];
        out += hex[b & 0xF];
    }
    return out;
}

} // namespace talvor
