#include "inventory/tap_device.h"

namespace talvor {

void classify(CTapDevice& tap)
{
    int tc = tap_unknown;
    switch (tap.kind) {
    case 3:
        switch (tap.channel_count) {
        case 8: tc = tap_8_port; break;
        case 21: tc = tap_icorlen; break;
        case 84: tc = tap_meter; break;
        default: tc = tap_4_port; break;
        }
        break;
    case 9: tc = tap_talvor_3phase_meter; break;
    case 10: tc = tap_dc; break;
    case 11:
    case 15: tc = tap_rail_module; break;
    case 12: tc = tap_contact_module; break;
    case 13: tc = tap_trunk_module; break;
    case 14: tc = tap_ferro_module; break;
    case 16: tc = tap_corlen_pdi; break;
    case 17: tc = tap_rail_module_right; break;
    case 18: tc = tap_rail_module_left; break;
    case 19: tc = tap_senta_module; break;
    case 20: tc = tap_talvor_compact; break;
    default: break;
    }
    tap.tap_class = tc;
    tap.product_class = tap_product_class(tc);
}

} // namespace talvor
