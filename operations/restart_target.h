#pragma once
// What a restart request names: the unit itself, or one TAP in the form the
// unit's network firmware expects.
#include <cstdint>

#include "inventory/tap_device.h"

namespace talvor {

// Low byte of the reboot argument.
inline constexpr unsigned restart_unit = 1;
inline constexpr unsigned restart_unit_and_taps = 7;
inline constexpr unsigned restart_taps = 6;

inline constexpr std::uint32_t no_restart_target = 0xFFFFFFFFu;

// Firmware before 0.51 numbers TAPs by position (index + 1); later firmware
// by bus and bus address, which 0.51 and 0.52 expect byte-swapped.
// no_restart_target when the TAP cannot be named.
std::uint32_t tap_restart_target(const version_triple& net_version, const CTapDevice& tap);

// The reboot argument for a TAP target.
inline std::uint32_t tap_restart_argument(std::uint32_t target, unsigned code)
{
    return (target << 8) | code;
}

} // namespace talvor
