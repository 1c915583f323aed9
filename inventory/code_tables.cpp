#include "inventory/code_tables.h"

namespace talvor {

std::string_view system_type_name(int system_type)
{
    switch (system_type) {
    case system_orvane: return "Orvane";
    case system_talvor: return "Talvor";
    default: return "???";
    }
}

std::string_view product_class_name(int product_class)
{
    switch (product_class) {
    case class_multi_port_tap: return "Multi-Port TAP";
    case class_talvor_3phase_meter: return "Talvor 3 Phase Meter";
    case class_dc_sense_tap: return "DC Sense TAP";
    case class_rail_module: return "Rail Module";
    case class_contact_module: return "Contact Module";
    case class_orvane_meter: return "Orvane Meter";
    case class_orvane_system: return "Orvane System";
    case class_talvor_system: return "Talvor System";
    case class_trunk_module: return "Trunk Module";
    case class_ferro_module: return "Ferro 2.0 Module";
    case class_rail_module_fpga: return "Rail Module FPGA";
    case class_ambient_hub: return "Ambient Hub";
    default: return "???";
    }
}

std::string_view tap_class_name(int tap_class)
{
    switch (tap_class) {
    case tap_4_port: return "4 Port";
    case tap_meter: return "Meter";
    case tap_icorlen: return "iCorlen";
    case tap_8_port: return "8 Port";
    case tap_talvor_3phase_meter: return "Talvor 3 Phase Meter";
    case tap_dc: return "DC";
    case tap_rail_module: return "Rail Module";
    case tap_contact_module: return "Contact Module";
    case tap_corlen_pdi: return "Corlen 2.0 PDI";
    case tap_trunk_module: return "Trunk Module";
    case tap_rail_module_right: return "Rail Module (right)";
    case tap_rail_module_left: return "Rail Mdoule (left)"; // the units' own spelling
    case tap_senta_module: return "Senta Module";
    case tap_ferro_module: return "Ferro 2.0 Module";
    case tap_talvor_compact: return "Talvor Compact";
    default: return "???";
    }
}

int tap_product_class(int tap_class)
{
    switch (tap_class) {
    case tap_4_port:
    case tap_icorlen:
    case tap_8_port: return class_multi_port_tap;
    case tap_meter: return class_orvane_meter;
    case tap_talvor_3phase_meter: return class_talvor_3phase_meter;
    case tap_dc: return class_dc_sense_tap;
    case tap_rail_module:
    case tap_corlen_pdi:
    case tap_rail_module_right:
    case tap_rail_module_left:
    case tap_senta_module:
    case tap_talvor_compact: return class_rail_module;
    case tap_contact_module: return class_contact_module;
    case tap_trunk_module: return class_trunk_module;
    case tap_ferro_module: return class_ferro_module;
    default: return class_unknown;
    }
}

int hub_product_class(int system_type)
{
    switch (system_type) {
    case system_orvane: return class_orvane_system;
    case system_talvor: return class_talvor_system;
    default: return class_unknown;
    }
}

} // namespace talvor
