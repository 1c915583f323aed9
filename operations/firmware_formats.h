#pragma once
// The file formats a firmware image may take, each parsed over the bytes in
// memory. Every reader checks its range against the end of the bytes first.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace talvor::firmware {

using byte_span = std::span<const std::uint8_t>;

// True when [offset, offset + count) lies inside the bytes.
inline bool fits(byte_span bytes, std::size_t offset, std::size_t count)
{
    return offset <= bytes.size() && count <= bytes.size() - offset;
}

// Call only after fits(bytes, offset, count).
inline std::uint32_t read_le(byte_span bytes, std::size_t offset, int count)
{
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | bytes[offset + i];
    return value;
}

inline std::uint32_t read_be(byte_span bytes, std::size_t offset, int count)
{
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | bytes[offset + i];
    return value;
}

struct archive {
    std::size_t length = 0;          // 0 when the bytes are no multi-image archive
    std::vector<std::string> names;  // member names, empty when length is 0
};

// A ZIP archive whose members are all stored: its length up to the end of
// its end record, and its member names.
archive read_archive(byte_span bytes);

// True when the bytes are a sequence of DER elements with nothing left over
// (the signature after an image).
bool well_formed_der(byte_span bytes);

// The image length of a Lattice bitstream, or of a Xilinx bit file.
std::optional<std::size_t> lattice_length(byte_span bytes);
std::optional<std::size_t> xilinx_length(byte_span bytes);

} // namespace talvor::firmware
