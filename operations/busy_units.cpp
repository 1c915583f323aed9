#include "operations/busy_units.h"

#include "inventory/ensure_login.h"

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

bool busy_units::insert(CHubDevice* unit)
{
    if (!set_.insert(unit).second)
        return false;
    expect_login(*unit);
    return true;
}

bool busy_units::erase(CHubDevice* unit)
{
    if (set_.erase(unit) == 0)
        return false;
    login_settled(*unit);
    return true;
}

void busy_units::clear()
{
    for (CHubDevice* unit : set_)
        login_settled(*unit);
    set_.clear();
}

} // namespace talvor
