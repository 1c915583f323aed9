// Fuzz target of the customization file check. Beyond not crashing: a
// well-formed header with its check word repaired is always accepted, an
// accepted file rejects any single flipped bit of its checked part (outside
// the length field, which may name another valid part), and
// bytes after the checked part never matter.
#include <cstdlib>

#include "operations/customisation_file.h"

using talvor::byte_vector;

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

std::uint32_t length_field(const byte_vector& f)
{
    return std::uint32_t{f[4]} | std::uint32_t{f[5]} << 8 | std::uint32_t{f[6]} << 16 | std::uint32_t{f[7]} << 24;
}

bool well_formed(const byte_vector& f)
{
    if (f.size() < 16 || f[0] != 0x25 || f[1] != 0x5A || f[2] != 0x54 || f[3] != 0x43 || f[8] != 1)
        return false;
    const std::uint32_t length = length_field(f);
    return length >= 16 && length <= f.size();
}

void check_accepted(const byte_vector& f)
{
    require(talvor::customisation_file_valid(f));
    const std::uint32_t length = length_field(f);
    std::uint32_t pick = 0;
    for (const auto b : f)
        pick = pick * 31 + b;
    byte_vector spoiled = f;
    // Any byte but the length field, which may name another valid part.
    const std::uint32_t at = (pick / 8) % (length - 4);
    spoiled[at < 4 ? at : at + 4] ^= static_cast<std::uint8_t>(1u << (pick % 8));
    require(!talvor::customisation_file_valid(spoiled));
    byte_vector longer = f;
    longer.push_back(static_cast<std::uint8_t>(pick));
    require(talvor::customisation_file_valid(longer));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const byte_vector file(data, data + size);
    const bool valid = talvor::customisation_file_valid(file);
    require(!valid || well_formed(file));
    if (valid)
        check_accepted(file);
    if (well_formed(file) && size <= 4096) {
        byte_vector repaired = file;
        const std::uint32_t length = length_field(file);
        const std::uint32_t check = ~talvor::word_crc(std::span(repaired).first(length - 4));
        for (int i = 0; i < 4; ++i)
            repaired[length - 4 + i] = static_cast<std::uint8_t>(check >> (8 * i));
        check_accepted(repaired);
    }
    return 0;
}
