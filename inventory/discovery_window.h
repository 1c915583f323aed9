#pragma once
// The discovery of the Discover command: hands each find to the window.
#include <atomic>

#include "inventory/discovery.h"
#include "inventory/window_bridge.h"

namespace talvor {

class do_discover final : public discover {
public:
    explicit do_discover(window_bridge& window) : window_(window) {}

    // Sends WM_UNIT_FOUND with the running number of the find and the
    // unit's address (MAC, two zero bytes, sender); returns the answer.
    int on_found(int socket, std::span<const std::uint8_t> reply, const mac_key& mac, const ip_address& sender,
                 const std::string& identifier) override;

private:
    window_bridge& window_;
    std::atomic<unsigned> replies_{0};
};

} // namespace talvor
