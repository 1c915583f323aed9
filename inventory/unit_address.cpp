#include "inventory/unit_address.h"

#include "transport/socket_calls.h"

namespace talvor {

ip_address ipv4_mapped(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d)
{
    return ip_address{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, a, b, c, d};
}

unit_address make_unit_address(const ip_address& address, const mac_address& mac)
{
    unit_address u;
    u.mac = mac;
    u.address = address;
    return u;
}

std::string address_text(const ip_address& address)
{
    std::string text = ipv6_address_text(address);
    const auto colon = text.rfind(':');
    if (colon != std::string::npos && text.find('.', colon) != std::string::npos)
        return text.substr(colon + 1);
    return text;
}

} // namespace talvor
