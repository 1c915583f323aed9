#pragma once
// One TAP or module attached to a unit's buses.
#include <cstdint>
#include <string>

#include "inventory/code_tables.h"
#include "inventory/tree_node.h"

namespace talvor {

struct version_triple {
    int build = 0;
    int minor = 0;
    int major = 0;
    bool operator==(const version_triple&) const = default;
};

// detail_rows bits: which rows the details panel shows.
inline constexpr int row_serial = 0x01;
inline constexpr int row_channel_count = 0x02;
inline constexpr int row_channel_numbers = 0x04;
inline constexpr int row_firmware = 0x08;
inline constexpr int row_abilities = 0x10; // harmonics, waveform, sensors, FPGA time

// tap_caps bits.
inline constexpr int tap_cap_harmonics = 0x01;
inline constexpr int tap_cap_waveform = 0x04;
inline constexpr int tap_cap_env_sensors = 0x10;

class CTapDevice {
public:
    explicit CTapDevice(int index_) : index(index_), bus_address(index_ + 1) {}

    std::string serial;
    std::string label;
    int tap_class = tap_unknown;
    int kind = 0;
    int channel_count = 0;
    int first_channel = 0; // 0-based
    int tap_caps = 0;
    version_triple version;
    std::uint32_t fpga_timestamp = 0; // seconds since 1970-01-01 UTC
    int chip_type = 0;
    int detail_rows = 0;
    int product_class = class_unknown;
    int index;           // position in the unit's TAP arrays
    int bus = 0;         // 0-based
    int bus_address;     // 1-based
    int selected = 0;
    int fw_raw = 0;
    tree_node tree_item = no_tree_node;
};

// Sets tap_class and product_class from kind (and, for kind 3, the channel count).
void classify(CTapDevice& tap);

} // namespace talvor
