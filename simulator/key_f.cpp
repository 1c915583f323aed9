#include "simulator/key_f.h"

#include <utility>
#include <vector>

namespace talvor::sim {

key_bytes key_f(std::string_view k, std::string_view m)
{
    std::vector<std::uint8_t> key(k.begin(), k.end());
    key.insert(key.end(), m.begin(), m.end());
    std::array<std::uint8_t, 256> s{};
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<std::uint8_t>(i);
    if (!key.empty()) {
        std::uint8_t j = 0;
        for (int i = 0; i < 256; ++i) {
            j = static_cast<std::uint8_t>(j + s[i] + key[i % key.size()]);
            std::swap(s[i], s[j]);
        }
    }
    std::uint8_t i = 0, j = 0;
    auto next = [&] {
        i = static_cast<std::uint8_t>(i + 1);
        j = static_cast<std::uint8_t>(j + s[i]);
        std::swap(s[i], s[j]);
        return s[static_cast<std::uint8_t>(s[i] + s[j])];
    };
    for (int n = 0; n < 300; ++n)
        next();
    key_bytes out{};
    for (auto& b : out)
        b = next();
    return out;
}

std::string to_hex(std::string_view bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::optional<key_bytes> key_from_hex(std::string_view hex)
{
    if (hex.size() != 32)
        return std::nullopt;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    key_bytes out{};
    for (std::size_t n = 0; n < 16; ++n) {
        int hi = nibble(hex[2 * n]), lo = nibble(hex[2 * n + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out[n] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return out;
}

} // namespace talvor::sim
