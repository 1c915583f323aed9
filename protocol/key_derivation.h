#pragma once
// The unit's key derivation F(K, M): RC4 keyed with K||M, 300 keystream
// bytes dropped, the next 16 are the result.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace talvor {

using key16 = std::array<std::uint8_t, 16>;

key16 derive_f(std::string_view k, std::string_view m);
inline key16 derive_f(const key16& k, std::string_view m)
{
    return derive_f(std::string_view(reinterpret_cast<const char*>(k.data()), k.size()), m);
}
// Overwrites a key that was derived from a password, kept by the compiler.
void wipe_key(key16& key);
void wipe_text(std::string& text);
// Lower-case hex, high nibble first.
std::string hex_lower(std::string_view bytes);
inline std::string hex_lower(const key16& k)
{
    return hex_lower(std::string_view(reinterpret_cast<const char*>(k.data()), k.size()));
}

} // namespace talvor
