#include "protocol/key_derivation.h"

#include <utility>
#include <vector>

namespace talvor {

namespace {

void wipe_state(std::uint8_t* data, std::size_t size)
{
    volatile std::uint8_t* p = data;
    for (std::size_t n = 0; n < size; ++n)
        p[n] = 0;
}

} // namespace

void wipe_key(key16& key) { wipe_state(key.data(), key.size()); }

void wipe_text(std::string& text)
{
    text.resize(text.capacity());
    wipe_state(reinterpret_cast<std::uint8_t*>(text.data()), text.size());
    text.clear();
}

key16 derive_f(std::string_view k, std::string_view m)
{
    // Sized once: a reallocation would free a copy of the password unwiped.
    std::vector<std::uint8_t> key;
    key.reserve(k.size() + m.size());
    key.assign(k.begin(), k.end());
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
        wipe_state(&j, 1);
    }
    // The buffer held the password; a volatile wipe is not optimised away.
    wipe_state(key.data(), key.size());

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
    // The permutation and its indices are derived from the password too.
    wipe_state(s.data(), s.size());
    wipe_state(&i, 1);
    wipe_state(&j, 1);
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
