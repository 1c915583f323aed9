#include "transport/mac_text.h"

#include <cstdio>

namespace talvor {

std::string mac_text(const mac_address& mac)
{
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return buf;
}

} // namespace talvor
