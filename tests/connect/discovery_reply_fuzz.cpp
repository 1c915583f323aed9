// Discovery replies on any datagram: an accepted one has the length its
// flag announces, the magic, a known system code, the MAC from bytes 6 to
// 11 and a twelve-character identifier ending in hex digits; the bytes the
// reader leaves unused change nothing.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "inventory/discovery.h"

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

bool same(const std::optional<talvor::discovery_reply>& a, const std::optional<talvor::discovery_reply>& b)
{
    if (!a || !b)
        return !a && !b;
    return a->system_code == b->system_code && a->mac == b->mac && a->identifier == b->identifier;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::uint8_t> bytes(data, data + size);
    const auto reply = talvor::read_discovery_reply(bytes);
    const bool extended = size == talvor::discovery_extended_size;
    if (reply) {
        check(extended || size == talvor::discovery_basic_size);
        check(bytes[0] == 0x1D && bytes[1] == 0xBB && (bytes[5] & 0x80) && ((bytes[5] & 0x40) != 0) == extended);
        check(reply->system_code == (bytes[2] | bytes[3] << 8));
        check(reply->system_code == 522 || reply->system_code == 622);
        check(std::equal(bytes.begin() + 6, bytes.begin() + 12, reply->mac.begin()));
        check(reply->mac[6] == 0 && reply->mac[7] == 0);
        check(reply->identifier.size() == 12);
        check(reply->identifier.find_first_not_of("0123456789abcdef", 3) == std::string::npos);
    }
    // Between the MAC and the identifier, and past the identifier's eight
    // bytes, nothing is read.
    if (size >= 12) {
        auto other = bytes;
        const std::size_t id = extended ? 144 : 60;
        for (std::size_t i = 12; i < other.size(); ++i)
            if (i < id || i >= id + 8)
                other[i] = static_cast<std::uint8_t>(~other[i]);
        check(same(talvor::read_discovery_reply(other), reply));
    }
    return 0;
}
