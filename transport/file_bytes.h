#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace talvor {

// Largest file any caller reads (firmware, configurations, address lists...).
inline constexpr std::size_t max_file_bytes = 0x1000000;

// Reads a whole file. Returns 0 on success, -1 when it cannot be opened or
// read, or when it is longer than max_file_bytes: a cut file would be sent or
// parsed as if it were whole.
int read_file_bytes(const std::filesystem::path& path, std::vector<std::uint8_t>& out);

// read_file_bytes, saying why it refused: "not found", "a folder, not a
// file", "not readable" or "larger than 16 MiB". Empty when `out` holds the
// whole file.
std::string read_file_problem(const std::filesystem::path& path, std::vector<std::uint8_t>& out);

} // namespace talvor
