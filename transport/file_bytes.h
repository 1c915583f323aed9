#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace talvor {

// Largest file any caller reads (firmware, configurations, address lists...).
inline constexpr std::size_t max_file_bytes = 0x1000000;

// Reads a whole file. Returns 0 on success, -1 when it cannot be opened or
// read, or when it is longer than max_file_bytes: a cut file would be sent or
// parsed as if it were whole.
int read_file_bytes(const std::filesystem::path& path, std::vector<std::uint8_t>& out);

} // namespace talvor
