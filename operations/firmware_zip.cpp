// The multi-image archive: a ZIP archive whose members are all stored. The
// walk covers the local headers, the central directory and the end record;
// any fault leaves it no archive at all.
#include "operations/firmware_formats.h"

namespace talvor::firmware {
namespace {

constexpr std::uint32_t local_header = 0x04034B50;
constexpr std::uint32_t central_entry = 0x02014B50;
constexpr std::uint32_t end_record = 0x06054B50;

} // namespace

archive read_archive(byte_span bytes)
{
    archive found;
    const std::size_t size = bytes.size();
    std::size_t at = 0;
    while (size - at >= 30) {
        const std::uint32_t signature = read_le(bytes, at, 4);
        if (signature == central_entry)
            break;
        if (signature != local_header)
            return {};
        const std::size_t name_length = read_le(bytes, at + 26, 2);
        const std::size_t header = 30 + name_length + read_le(bytes, at + 28, 2);
        if (header > size - at)
            return {};
        const std::uint32_t stored = read_le(bytes, at + 18, 4);
        if (stored > size - at - header || read_le(bytes, at + 8, 2) != 0 || read_le(bytes, at + 22, 4) != stored)
            return {};
        found.names.emplace_back(reinterpret_cast<const char*>(bytes.data() + at + 30), name_length);
        at += header + stored;
    }
    while (size - at >= 46) {
        const std::uint32_t signature = read_le(bytes, at, 4);
        if (signature == end_record)
            break;
        if (signature != central_entry)
            return {};
        const std::size_t entry =
            46 + read_le(bytes, at + 28, 2) + read_le(bytes, at + 30, 2) + read_le(bytes, at + 32, 2);
        if (entry > size - at)
            return {};
        at += entry;
    }
    if (size - at < 22 || read_le(bytes, at, 4) != end_record)
        return {};
    const std::size_t record = 22 + read_le(bytes, at + 20, 2);
    if (record > size - at)
        return {};
    found.length = at + record;
    return found;
}

} // namespace talvor::firmware
