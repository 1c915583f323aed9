#include "transport/socket_calls.h"

// Both systems have inet_ntop and inet_pton; only their headers differ.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

namespace talvor {

std::string ipv6_address_text(const ip_address& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET6, address.data(), text, sizeof text))
        return {};
    return text;
}

bool ipv6_address_from_text(const char* text, ip_address& out)
{
    return ::inet_pton(AF_INET6, text, out.data()) == 1;
}

} // namespace talvor
