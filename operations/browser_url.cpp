#include "inventory/connection_worker.h"
#include "operations/commands.h"

namespace talvor {

std::string unit_browser_url(CHubDevice& unit)
{
    std::string host = unit.address_string();
    if (host.find('.') == std::string::npos)
        host = "[" + host + "]";
    switch (unit_protocol(unit)) {
    case protocol_http:
        return "http://" + host;
    case protocol_wss:
        return "https://" + host;
    default:
        return {};
    }
}

} // namespace talvor
