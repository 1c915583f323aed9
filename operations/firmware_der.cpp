// The signature after an image must be well-formed DER. The walk keeps its
// own stack of open elements, so a crafted tail cannot exhaust the thread's.
#include "operations/firmware_formats.h"

namespace talvor::firmware {
namespace {

// A real signature nests a dozen levels at most.
constexpr int max_depth = 32;

bool allowed_tag(std::uint8_t tag)
{
    switch (tag) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: case 0x06:
    case 0x13: case 0x17: case 0x18:
    case 0x30: case 0x31: case 0xA0: case 0xA1: case 0xA3: case 0xA4:
        return true;
    default:
        return false;
    }
}

} // namespace

bool well_formed_der(byte_span bytes)
{
    std::size_t ends[max_depth + 1];  // end of each open element, the range's own first
    int depth = 0;
    ends[0] = bytes.size();
    std::size_t at = 0;
    for (;;) {
        const std::size_t end = ends[depth];
        if (at == end) {
            if (depth == 0)
                return true;
            --depth;
            continue;
        }
        const std::uint8_t tag = bytes[at++];
        if (!allowed_tag(tag) || at == end)
            return false;
        const std::uint8_t first = bytes[at++];
        std::size_t length = first;
        if (first >= 0x80) {
            const int count = first - 0x80;
            if (count < 1 || count > 4 || end - at < static_cast<std::size_t>(count))
                return false;
            length = read_be(bytes, at, count);
            at += count;
        }
        if (length > end - at)
            return false;
        if (tag & 0x20) {
            if (depth == max_depth)
                return false;
            ends[++depth] = at + length;
        } else {
            at += length;
        }
    }
}

} // namespace talvor::firmware
