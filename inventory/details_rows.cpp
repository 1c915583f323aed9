#include "inventory/details_rows.h"

#include <chrono>
#include <cstdint>
#include <cstdio>

#include "inventory/code_tables.h"
#include "inventory/unit_group.h"
#include "inventory/unit_address.h"

namespace talvor {

namespace {

std::string full_version(const version_triple& v)
{
    return "v" + std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build);
}

// Multi-port TAPs and meters number their releases major.two-digit-minor.
std::string short_version(const version_triple& v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "v%d.%02d", v.major, v.minor);
    return buf;
}

std::string utc_time(std::uint32_t seconds_since_1970)
{
    using namespace std::chrono;
    const sys_seconds t{seconds{seconds_since_1970}};
    const auto day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss hms{t - day};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
                  static_cast<int>(hms.seconds().count()));
    return buf;
}

const char* yes_no(bool on) { return on ? "Yes" : "No"; }

} // namespace

void unit_details_rows(const CHubDevice& unit, std::vector<details_row>& rows)
{
    const std::uint32_t caps = unit.capabilities;
    rows.emplace_back("Product", std::string(system_type_name(unit.system_type)));
    rows.emplace_back("Serial Number", unit.serial);
    rows.emplace_back("Description", unit.description);
    rows.emplace_back("Text Identifier", unit.text_id);
    rows.emplace_back("Firmware Version", full_version(unit.net_version));
    rows.emplace_back("IP Address", address_text(unit.address));
    rows.emplace_back("MAC Address", mac_text(unit.mac));
    rows.emplace_back("SD-Card Size", unit.sd_card_gb != 0 ? std::to_string(unit.sd_card_gb) + "GB" : "No Card");
    const char* signature = !(caps & cap_signature)               ? "None"
                            : (caps & cap_signature_production) ? "Required"
                                                                : "Required (Development)";
    rows.emplace_back("Firmware Signature", signature);
    rows.emplace_back("Connection Type", (caps & cap_certificates) ? "HTTPS" : "HTTP");
}

void tap_details_rows(const CTapDevice& tap, std::vector<details_row>& rows)
{
    const int bits = tap.detail_rows;
    const int pc = tap.product_class;
    rows.emplace_back("Product", std::string(tap_class_name(tap.tap_class)));
    if (bits & row_serial)
        rows.emplace_back("Serial Number", tap.serial);
    rows.emplace_back("Bus Address", std::to_string(tap.bus_address));
    if (bits & row_channel_count)
        rows.emplace_back("Channel Count", std::to_string(tap.channel_count));
    if (bits & row_channel_numbers)
        // Widened: both numbers come from the unit and may be anywhere in int.
        rows.emplace_back("Channel Numbers", std::to_string(std::int64_t{tap.first_channel} + 1) + " - " +
                                                 std::to_string(std::int64_t{tap.first_channel} + tap.channel_count));
    if (bits & row_firmware) {
        const bool two_digit = pc == class_multi_port_tap || pc == class_orvane_meter;
        rows.emplace_back("Firmware Version", two_digit ? short_version(tap.version) : full_version(tap.version));
    }
    if ((bits & row_abilities) && (pc == class_talvor_3phase_meter || pc == class_rail_module || pc == class_trunk_module)) {
        rows.emplace_back("Harmonics", yes_no(tap.tap_caps & tap_cap_harmonics));
        rows.emplace_back("Waveform Capture", yes_no(tap.tap_caps & tap_cap_waveform));
        rows.emplace_back("Enviromental Sensors", yes_no(tap.tap_caps & tap_cap_env_sensors));
        if (pc == class_rail_module && (tap.tap_caps & tap_cap_waveform))
            rows.emplace_back("FPGA Timestamp", utc_time(tap.fpga_timestamp));
    }
}

void merge_row(std::vector<merged_row>& rows, const details_row& row)
{
    for (merged_row& r : rows) {
        if (r.name != row.first)
            continue;
        if (!r.various && r.value != row.second) {
            r.value.clear();
            r.various = true;
        }
        return;
    }
    rows.push_back(merged_row{row.first, row.second, false});
}

std::vector<merged_row> selection_details(const unit_group& group)
{
    std::vector<details_row> rows;
    bool any_unit = false;
    for (const auto& unit : group.units())
        if (unit->selected) {
            any_unit = true;
            unit_details_rows(*unit, rows);
        }
    if (!any_unit)
        for (const auto& unit : group.units())
            for (const auto& tap : unit->taps)
                if (tap->selected)
                    tap_details_rows(*tap, rows);
    std::vector<merged_row> merged;
    for (const details_row& row : rows)
        merge_row(merged, row);
    return merged;
}

} // namespace talvor
