#include "inventory/discovery_window.h"

#include <algorithm>

#include "inventory/unit_address.h"

namespace talvor {

int do_discover::on_found(int, std::span<const std::uint8_t>, const mac_key& mac, const ip_address& sender,
                          const std::string&)
{
    const unsigned n = replies_.fetch_add(1);
    unit_address where;
    std::copy(mac.begin(), mac.begin() + 6, where.mac.begin());
    where.address = sender;
    return static_cast<int>(window_.send({WM_UNIT_FOUND, n, reinterpret_cast<std::intptr_t>(&where)}));
}

} // namespace talvor
