#pragma once
// Customization files (.cst): "%ZTC", the length L of the checked part, the
// format version 1, contents, and at L - 4 the complemented word CRC of
// everything before it. Bytes after L are carried along unchecked.
#include <cstdint>
#include <span>

#include "transport/conn_sess.h"

namespace talvor {

// CRC-32 (0x04C11DB7, start 0xFFFFFFFF, not reflected, no final XOR) fed
// little-endian 32-bit words from their most significant byte down; a final
// partial word is filled up with 0xFF bytes.
std::uint32_t word_crc(std::span<const std::uint8_t> data);

// Size, magic, length, version and check word.
bool customisation_file_valid(std::span<const std::uint8_t> file);

// The 16-byte file that clears a unit's customization.
byte_vector customisation_removal_file();

} // namespace talvor
