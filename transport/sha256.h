#pragma once
// SHA-256 of a byte range, as lower-case hex.
#include <cstdint>
#include <span>
#include <string>

namespace talvor {

std::string sha256_hex(std::span<const std::uint8_t> bytes);

} // namespace talvor
