#include "protocol/key_derivation.h"

#include <utility>
#include <vector>

namespace talvor {

key16 derive_f(std::string_view k, std::string_view m)
{
    std::vector<std::uint8_t> key(k.begin(), k.end());
    key.insert(key.end(), m.begin(), m.end());

    std::array<std::uint8_t, 256> s{};
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<std::uint8_t>(i);
    if (!key.empty()) {
        // Standard key schedule: key byte i mod length, so bytes past the
        // 256th of a long key take no part.
        std::uint8_t j = 0;
        for (int i = 0; i < 256; ++i) {
            j = static_cast<std::uint8_t>(j + s[i] + key[i % key.size()]);
            std::swap(s[i], s[j]);
        }
    }
    // The buffer held the password; a volatile wipe is not optimised away.
    volatile std::uint8_t* wipe = key.data();
    for (std::size_t n = 0; n < key.size(); ++n)
        wipe[n] = 0;

    std::uint8_t i = 0, j = 0;
    auto next = [&] {
        i = static_cast<std::uint8_t>(i + 1);
        j = static_cast<std::uint8_t>(j + s[i]);
        std::swap(s[i], s[j]);
        return s[static_cast<std::uint8_t>(s[i] + s[j])];
    };
    for (int n = 0; n < 300; ++n)
        next();
    key16 out{};
    for (auto& b : out)
        b = next();
    return out;
}

std::string hex_lower(std::string_view bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

} // namespace talvor
