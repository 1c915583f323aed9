#include "operations/busy_units.h"

namespace talvor {

std::size_t unit_pointer_hash::operator()(const CHubDevice* unit) const noexcept
{
    std::uint32_t h = 2166136261u;
    auto value = reinterpret_cast<std::uintptr_t>(unit);
    for (std::size_t i = 0; i < sizeof value; ++i) {
        h ^= static_cast<std::uint32_t>(value & 0xFF);
        h *= 16777619u;
        value >>= 8;
    }
    return h;
}

} // namespace talvor
