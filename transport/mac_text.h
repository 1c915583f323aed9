#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace talvor {

using mac_address = std::array<std::uint8_t, 6>;

// "00:1a:2b:3c:4d:5e": two lower-case hex digits per byte, colon separated.
std::string mac_text(const mac_address& mac);

} // namespace talvor
