#pragma once
// Reading what a logged-in unit says about itself into its record.
#include "inventory/hub_device.h"
#include "transport/json_parser.h"

namespace talvor {

// The body of a refresh after login: general configuration, SD card, config
// categories, TAPs, logout. 0, or -1 when no general configuration came.
int read_unit_information(CHubDevice& unit);

// Applies a general configuration reply; malformed members are skipped.
void read_gen_conf(CHubDevice& unit, const json_parser& reply);
// 0, or -1 leaving the record untouched.
int read_config_cats(CHubDevice& unit, const json_parser& reply);
// 0, or -1 leaving the record untouched.
int read_tap_details(CHubDevice& unit, const json_parser& reply);
// The built-in meter and the TAPs found in the bus registers.
void list_taps_from_registers(CHubDevice& unit);

} // namespace talvor
