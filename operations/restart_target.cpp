#include "operations/restart_target.h"

namespace talvor {

namespace {

bool before(const version_triple& v, int major, int minor)
{
    return v.major < major || (v.major == major && v.minor < minor);
}

} // namespace

std::uint32_t tap_restart_target(const version_triple& net_version, const CTapDevice& tap)
{
    if (before(net_version, 0, 51)) {
        const std::int64_t position = std::int64_t{tap.index} + 1;
        return position >= 1 && position < 256 ? static_cast<std::uint32_t>(position) : no_restart_target;
    }
    if (tap.bus < 0 || tap.bus > 3 || tap.bus_address < 0 || tap.bus_address >= 256)
        return no_restart_target;
    std::uint32_t t = static_cast<std::uint32_t>(tap.bus) << 8 | static_cast<std::uint32_t>(tap.bus_address);
    if (net_version.major == 0 && (net_version.minor == 51 || net_version.minor == 52))
        t = (t << 8) | (t >> 8);
    return t;
}

} // namespace talvor
