#include <cstddef>
#include <memory>
#include <string>

#include "inventory/hub_device.h"
#include "inventory/reply_values.h"
#include "inventory/unit_info.h"

namespace talvor {

namespace {

inline constexpr int bus_register_count = 30;

// The kind a register's channel count stands for; 0 when it is not one a
// unit reports.
int kind_for_channels(int v)
{
    switch (v) {
    case 3: return 10;
    case 4:
    case 8:
    case 21: return 3;
    case 24:
    case 30:
    case 42: return 11;
    default: return 0;
    }
}

std::unique_ptr<CTapDevice> builtin_meter(const CHubDevice& unit)
{
    std::unique_ptr<CTapDevice> tap;
    if (unit.system_type == system_orvane) {
        tap = std::make_unique<CTapDevice>(0);
        tap->label = "#0";
        tap->kind = 3;
        tap->channel_count = 84;
        tap->detail_rows = row_firmware;
    } else if (unit.system_type == system_talvor) {
        tap = std::make_unique<CTapDevice>(30);
        tap->label = "#31";
        tap->kind = 9;
        tap->channel_count = 3;
        tap->tap_caps = 0x0D;
        tap->detail_rows = row_channel_count | row_firmware;
    }
    if (tap) {
        tap->version = unit.sys_version;
        classify(*tap);
    }
    return tap;
}

} // namespace

void list_taps_from_registers(CHubDevice& unit)
{
    unit.taps.clear();
    auto meter = builtin_meter(unit);
    if (!meter)
        return;
    unit.taps.push_back(std::move(meter));

    int start = 0;
    if (unit.system_type == system_orvane) {
        const version_triple& s = unit.sys_version;
        if (!(s.major > 5 || (s.major == 5 && s.minor >= 50)))
            return;
        start = 4800;
    } else {
        const version_triple& n = unit.net_version;
        start = (unit.cwm_variant == 1 || n.major != 0 || n.minor >= 20) ? 4100 : 4800;
    }
    if (!unit.hub)
        return;

    json_ptr reply = unit.hub->modbus_get(start, bus_register_count, 1, reply_limit);
    if (!reply)
        return;
    const std::size_t regs = reply->find(json_parser::root, "regs");
    if (!reply->is(regs, json_type::array) || reply->tokens[regs].size != bus_register_count)
        return;

    std::size_t element = regs + 1;
    for (int i = 0; i < bus_register_count; ++i, element = reply->skip(element)) {
        auto number = reply_number<int>(*reply, element);
        if (!number)
            continue;
        int v = *number;
        if (v == 0 || v > 65535)
            continue;
        if (v & 0x8000)
            v = 65536 - v; // a 16-bit two's-complement register; the count is its size
        const int kind = kind_for_channels(v);
        if (kind == 0)
            continue;
        auto tap = std::make_unique<CTapDevice>(i);
        tap->label = "#" + std::to_string(i + 1);
        tap->channel_count = v;
        tap->detail_rows = row_channel_count;
        tap->kind = kind;
        classify(*tap);
        unit.taps.push_back(std::move(tap));
    }
}

} // namespace talvor
