#include "inventory/unit_info.h"

#include <vector>

namespace talvor {

namespace {
inline constexpr int sd_card_register = 4584;
}

int read_unit_information(CHubDevice& unit)
{
    zt_hub* hub = unit.hub.get();
    if (!hub)
        return -1;

    json_ptr conf = hub->get_gen_conf(reply_limit);
    if (!conf) {
        // Some firmware only honours the auth token in the query.
        hub->set_flags(option_auth_query);
        conf = hub->get_gen_conf(reply_limit);
        if (!conf)
            conf = hub->get_conf(reply_limit);
        if (!conf)
            return -1;
    }
    read_gen_conf(unit, *conf);
    conf.reset();

    unit.sd_card_gb = 0;
    std::vector<int> regs;
    if (hub->modbus_read(regs, sd_card_register, 1, 1, reply_limit) == 0 && !regs.empty())
        unit.sd_card_gb = regs[0];

    if (unit.capabilities & cap_config) {
        json_ptr cats = hub->get_config_cats(reply_limit);
        if (!cats || read_config_cats(unit, *cats) != 0) {
            unit.capabilities &= ~cap_config;
            unit.capabilities_lost |= cap_config;
        }
    }

    if (unit.capabilities & cap_tap_details) {
        json_ptr details = hub->get_tap_details(reply_limit);
        if (!details || read_tap_details(unit, *details) != 0)
            unit.capabilities &= ~cap_tap_details;
        if (!(unit.capabilities & cap_tap_details))
            list_taps_from_registers(unit);
    } else {
        list_taps_from_registers(unit);
    }

    hub->logout();
    return 0;
}

} // namespace talvor
