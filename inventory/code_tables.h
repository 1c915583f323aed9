#pragma once
// The code tables every layer shares: hub system types, product classes (what
// the user selects and operations are offered for), TAP classes (the tree's
// grouping nodes) and the capability bits a unit reports.
#include <cstdint>
#include <string_view>

namespace talvor {

// Hub system types. 0x3000 is "not yet known".
inline constexpr int system_unknown = 0x3000;
inline constexpr int system_orvane = 0x3001; // discovery code 522
inline constexpr int system_talvor = 0x3002; // discovery code 622

// Product classes. 0x9000 is unclassified.
inline constexpr int class_unknown = 0x9000;
inline constexpr int class_multi_port_tap = 0x9001;
inline constexpr int class_talvor_3phase_meter = 0x9002;
inline constexpr int class_dc_sense_tap = 0x9003;
inline constexpr int class_rail_module = 0x9004;
inline constexpr int class_contact_module = 0x9005;
inline constexpr int class_orvane_meter = 0x9006;
inline constexpr int class_orvane_system = 0x9007;
inline constexpr int class_talvor_system = 0x9008;
inline constexpr int class_trunk_module = 0x9009;
inline constexpr int class_ferro_module = 0x900A;
inline constexpr int class_rail_module_fpga = 0x900B;
inline constexpr int class_ambient_hub = 0x900C;

// TAP classes. 0x2000 is unclassified.
inline constexpr int tap_unknown = 0x2000;
inline constexpr int tap_4_port = 0x2001;
inline constexpr int tap_meter = 0x2002;
inline constexpr int tap_icorlen = 0x2003;
inline constexpr int tap_8_port = 0x2004;
inline constexpr int tap_talvor_3phase_meter = 0x2005;
inline constexpr int tap_dc = 0x2006;
inline constexpr int tap_rail_module = 0x2007;
inline constexpr int tap_contact_module = 0x2008;
inline constexpr int tap_corlen_pdi = 0x2009;
inline constexpr int tap_trunk_module = 0x200A;
inline constexpr int tap_rail_module_right = 0x200B;
inline constexpr int tap_rail_module_left = 0x200C;
inline constexpr int tap_senta_module = 0x200D;
inline constexpr int tap_ferro_module = 0x200E;
inline constexpr int tap_talvor_compact = 0x200F;

// Capability bits of a unit.
inline constexpr std::uint32_t cap_tap_details = 0x01;
inline constexpr std::uint32_t cap_config = 0x02;
inline constexpr std::uint32_t cap_sdcard = 0x04;
inline constexpr std::uint32_t cap_customisation = 0x08;
inline constexpr std::uint32_t cap_quick_update = 0x10;
inline constexpr std::uint32_t cap_signature = 0x20;
inline constexpr std::uint32_t cap_signature_production = 0x40;
inline constexpr std::uint32_t cap_progress = 0x80;
inline constexpr std::uint32_t cap_multi_image = 0x100;
inline constexpr std::uint32_t cap_certificates = 0x01000000;

// Names shown to the user; "???" for anything not in the table.
std::string_view system_type_name(int system_type);
std::string_view product_class_name(int product_class);
std::string_view tap_class_name(int tap_class);

// The product class of a hub of the given system type (0x9000 when unknown).
int hub_product_class(int system_type);
// The product class of the TAPs of a TAP class: what a batch acts on when
// the tree's TAP class node is meant (0x9000 when unknown).
int tap_product_class(int tap_class);

} // namespace talvor
