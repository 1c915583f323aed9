#include "inventory/unit_address.h"

#include <arpa/inet.h>

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
    char buf[INET6_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET6, address.data(), buf, sizeof buf))
        return {};
    std::string text(buf);
    const auto colon = text.rfind(':');
    if (colon != std::string::npos && text.find('.', colon) != std::string::npos)
        return text.substr(colon + 1);
    return text;
}

} // namespace talvor
