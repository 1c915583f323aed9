#pragma once
// The name/value rows the details list shows for a unit or a TAP.
#include <string>
#include <utility>
#include <vector>

#include "inventory/hub_device.h"
#include "inventory/tap_device.h"

namespace talvor {

using details_row = std::pair<std::string, std::string>;

// Append in display order.
void unit_details_rows(const CHubDevice& unit, std::vector<details_row>& rows);
void tap_details_rows(const CTapDevice& tap, std::vector<details_row>& rows);

} // namespace talvor
