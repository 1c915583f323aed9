#pragma once
// The units' own copy of the key derivation F, kept apart from the client's
// so that a fault on one side cannot hide the same fault on the other.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talvor::sim {

using key_bytes = std::array<std::uint8_t, 16>;

key_bytes key_f(std::string_view k, std::string_view m);
inline std::string_view as_text(const key_bytes& k)
{
    return {reinterpret_cast<const char*>(k.data()), k.size()};
}
std::string to_hex(std::string_view bytes);
// Exactly 32 lower-case hex digits, else nothing.
std::optional<key_bytes> key_from_hex(std::string_view hex);

} // namespace talvor::sim
