#include "inventory/tap_device.h"

namespace talvor {

void classify(CTapDevice& tap)
{
    int tc = tap_unknown;
    int pc = class_unknown;
    switch (tap.kind) {
    case 3:
        switch (tap.channel_count) {
        case 8: tc = tap_8_port; pc = class_multi_port_tap; break;
        case 21: tc = tap_icorlen; pc = class_multi_port_tap; break;
        case 84: tc = tap_meter; pc = class_orvane_meter; break;
        default: tc = tap_4_port; pc = class_multi_port_tap; break;
        }
        break;
    case 9: tc = tap_talvor_3phase_meter; pc = class_talvor_3phase_meter; break;
    case 10: tc = tap_dc; pc = class_dc_sense_tap; break;
    case 11:
    case 15: tc = tap_rail_module; pc = class_rail_module; break;
    case 12: tc = tap_contact_module; pc = class_contact_module; break;
    case 13: tc = tap_trunk_module; pc = class_trunk_module; break;
    case 14: tc = tap_ferro_module; pc = class_ferro_module; break;
    case 16: tc = tap_corlen_pdi; pc = class_rail_module; break;
    case 17: tc = tap_rail_module_right; pc = class_rail_module; break;
    case 18: tc = tap_rail_module_left; pc = class_rail_module; break;
    case 19: tc = tap_senta_module; pc = class_rail_module; break;
    case 20: tc = tap_talvor_compact; pc = class_rail_module; break;
    default: break;
    }
    tap.tap_class = tc;
    tap.product_class = pc;
}

} // namespace talvor
