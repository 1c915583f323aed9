#pragma once
// The tree's filter: a unit or TAP shows when the text, as typed, is found
// (letter case aside) in its serial number, address, description or
// firmware version as the details list shows them.
#include <string_view>

#include "inventory/hub_device.h"
#include "inventory/tap_device.h"

namespace talvor {

// An empty text matches everything.
bool unit_matches(const CHubDevice& unit, std::string_view text);
bool tap_matches(const CTapDevice& tap, std::string_view text);

} // namespace talvor
