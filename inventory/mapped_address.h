#pragma once
// The IPv4-mapped IPv6 address of the dual-stack discovery socket, the same
// on both systems. Private to the discovery socket's .cpp files.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

#include <cstdint>
#include <cstring>

namespace talvor::discovery_net {

inline sockaddr_in6 mapped(std::uint32_t ipv4_network_order, std::uint16_t port)
{
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr.s6_addr[10] = 0xFF;
    a.sin6_addr.s6_addr[11] = 0xFF;
    std::memcpy(&a.sin6_addr.s6_addr[12], &ipv4_network_order, 4);
    return a;
}

} // namespace talvor::discovery_net
