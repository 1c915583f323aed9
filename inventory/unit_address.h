#pragma once
// How a unit is identified when it is found or entered: its MAC (all 0xff
// when not known) and its IPv6 address (IPv4 units in IPv4-mapped form).
#include <array>
#include <cstdint>
#include <string>

#include "transport/conn_sess.h"
#include "transport/mac_text.h"

namespace talvor {

inline constexpr mac_address unknown_mac{0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

// The 24-byte record: bytes 0-5 MAC, 6-7 zero, 8-23 address in network order.
struct unit_address {
    mac_address mac = unknown_mac;
    std::array<std::uint8_t, 2> zero{};
    ip_address address{};

    bool mac_known() const { return mac != unknown_mac; }
    bool operator==(const unit_address&) const = default;
};
static_assert(sizeof(unit_address) == 24);

// ::ffff:a.b.c.d for the IPv4 address a.b.c.d.
ip_address ipv4_mapped(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d);
unit_address make_unit_address(const ip_address& address, const mac_address& mac = unknown_mac);

// The IPv6 text of the address, except that a dotted IPv4 tail is shown
// alone ("::ffff:192.168.1.20" reads "192.168.1.20").
std::string address_text(const ip_address& address);

} // namespace talvor
