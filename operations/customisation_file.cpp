#include "operations/customisation_file.h"

#include <array>

namespace talvor {

namespace {

constexpr std::uint32_t polynomial = 0x04C11DB7u;
constexpr std::size_t header_size = 16; // magic, length, version, ..., check word
constexpr std::uint8_t format_version = 1;

constexpr std::array<std::uint32_t, 256> make_table()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 0x80000000u) ? (c << 1) ^ polynomial : c << 1;
        table[i] = c;
    }
    return table;
}

constexpr auto crc_table = make_table();

std::uint32_t little_word(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 | std::uint32_t{bytes[at + 2]} << 16 |
           std::uint32_t{bytes[at + 3]} << 24;
}

void put_little_word(byte_vector& out, std::uint32_t w)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(w >> shift));
}

std::uint32_t check_word_of(std::span<const std::uint8_t> data) { return ~word_crc(data); }

} // namespace

std::uint32_t word_crc(std::span<const std::uint8_t> data)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t at = 0; at < data.size(); at += 4) {
        std::uint32_t word = 0xFFFFFFFFu;
        if (data.size() - at >= 4) {
            word = little_word(data, at);
        } else {
            for (std::size_t i = 0; at + i < data.size(); ++i)
                word = (word & ~(0xFFu << (8 * i))) | std::uint32_t{data[at + i]} << (8 * i);
        }
        for (int shift = 24; shift >= 0; shift -= 8)
            crc = (crc << 8) ^ crc_table[((crc >> 24) ^ (word >> shift)) & 0xFF];
    }
    return crc;
}

bool customisation_file_valid(std::span<const std::uint8_t> file)
{
    if (file.size() < header_size || file[0] != 0x25 || file[1] != 0x5A || file[2] != 0x54 || file[3] != 0x43)
        return false;
    const std::uint32_t length = little_word(file, 4);
    if (length < header_size || length > file.size() || file[8] != format_version)
        return false;
    // The check word covers the bytes before it. Comparing it directly holds
    // for every length; the CRC residue over the whole part only does when
    // the length is a multiple of four.
    return check_word_of(file.first(length - 4)) == little_word(file, length - 4);
}

byte_vector customisation_removal_file()
{
    byte_vector file{0x25, 0x5A, 0x54, 0x43};
    put_little_word(file, header_size);
    file.insert(file.end(), {format_version, 0x01, 0x00, 0x00});
    put_little_word(file, check_word_of(file));
    return file;
}

} // namespace talvor
