// FPGA bitstreams for the rail module: the Lattice form, walked command by
// command to its end, and the Xilinx bit file.
#include "operations/firmware_formats.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace talvor::firmware {
namespace {

bool bytes_are(byte_span bytes, std::size_t at, std::initializer_list<std::uint8_t> expected)
{
    if (!fits(bytes, at, expected.size()))
        return false;
    return std::equal(expected.begin(), expected.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// A compressed frame: `symbols` variable-length symbols read most
// significant bit first (0 = 1 bit, 10 = 6 bits, 11 = 10 bits), padded to a
// byte, then 4 more bytes. Moves `at` past it; false when the bytes end first.
bool skip_compressed_frame(byte_span bytes, std::size_t& at, std::size_t symbols)
{
    if (at > bytes.size())
        return false;
    const std::size_t limit = bytes.size() * 8;
    std::size_t bit = at * 8;
    auto bit_at = [&](std::size_t n) { return bytes[n / 8] >> (7 - n % 8) & 1; };
    for (std::size_t i = 0; i < symbols; ++i) {
        if (bit >= limit)
            return false;
        std::size_t width = 1;
        if (bit_at(bit)) {
            if (limit - bit < 6)
                return false;
            width = bit_at(bit + 1) ? 10 : 6;
        }
        if (limit - bit < width)
            return false;
        bit += width;
    }
    at = (bit + 7) / 8;
    if (!fits(bytes, at, 4))
        return false;
    at += 4;
    return true;
}

} // namespace

std::optional<std::size_t> lattice_length(byte_span bytes)
{
    if (!bytes_are(bytes, 0, {'L', 'S', 'C', 'C', 0xFF, 0x00}))
        return std::nullopt;
    // Comment strings, each ended by a NUL, until a 0xFF.
    std::size_t at = 6;
    for (;;) {
        if (at >= bytes.size())
            return std::nullopt;
        if (bytes[at] == 0xFF)
            break;
        const void* nul = std::memchr(bytes.data() + at, 0, bytes.size() - at);
        if (!nul)
            return std::nullopt;
        at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - bytes.data()) + 1;
    }
    ++at;
    if (!bytes_are(bytes, at, {0xFF, 0xFF, 0xBD, 0xB3}))
        return std::nullopt;
    at += 4;

    std::size_t frame_bits = 0;
    bool dictionary = false;
    for (;;) {
        if (!fits(bytes, at, 4))
            return std::nullopt;
        const std::uint32_t word = read_be(bytes, at, 4);
        const std::uint8_t opcode = word >> 24;
        const std::uint8_t second = word >> 16 & 0xFF;
        const std::size_t count = word & 0xFFFF;
        if (opcode == 0xFF) {
            at += word == 0xFFFFFFFF ? 4 : 1;
            continue;
        }
        at += 4;
        std::size_t data = 0;
        switch (opcode) {
        case 0x3B: case 0x46: case 0x56:
            break;
        case 0x22: case 0xB4: case 0xF6:
            data = 4;
            break;
        case 0xC2:
            data = 6;
            break;
        case 0x02:
            data = 16;
            dictionary = true;
            break;
        case 0xE2:
            // The device's identification word.
            if (!bytes_are(bytes, at, {0x31, 0x0F, 0x10, 0x43}))
                return std::nullopt;
            data = 4;
            frame_bits = 676;
            break;
        case 0x72:
            if (second != 0xD0 || (count != 1 && count != 512))
                return std::nullopt;
            data = count == 1 ? 3 : 2562;
            break;
        case 0x82:
            if (frame_bits == 0 || second != 0x91)
                return std::nullopt;
            data = count * ((frame_bits + 7) / 8 + 3);
            break;
        case 0xB8:
            if (frame_bits == 0 || !dictionary || second != 0xD4)
                return std::nullopt;
            for (std::size_t i = 0; i < count; ++i)
                if (!skip_compressed_frame(bytes, at, (frame_bits + 63) / 64 * 8))
                    return std::nullopt;
            break;
        case 0x5E:
            if (!bytes_are(bytes, at, {0xFF, 0xFF, 0xFF, 0xFF}))
                return std::nullopt;
            return at + 4;
        default:
            return std::nullopt;
        }
        if (!fits(bytes, at, data))
            return std::nullopt;
        at += data;
    }
}

std::optional<std::size_t> xilinx_length(byte_span bytes)
{
    std::size_t at = 13;
    for (;;) {
        if (!fits(bytes, at, 1))
            return std::nullopt;
        const std::uint8_t key = bytes[at++];
        if (key < 'a' || key > 'e')
            return std::nullopt;
        const int width = key == 'e' ? 4 : 2;
        if (!fits(bytes, at, width))
            return std::nullopt;
        const std::size_t length = read_be(bytes, at, width);
        at += width;
        if (!fits(bytes, at, length))
            return std::nullopt;
        at += length;
        if (key == 'e')
            return at;
    }
}

} // namespace talvor::firmware
