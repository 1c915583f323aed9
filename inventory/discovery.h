#pragma once
// Finding units by UDP broadcast: a 6-byte request from every usable IPv4
// interface to port 2211, replies collected for three rounds of 1000 ms.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "transport/conn_sess.h"

namespace talvor {

namespace discovery_net {
class waiter;
}

inline constexpr std::uint16_t discovery_unit_port = 2211;
inline constexpr std::uint16_t discovery_local_port = 2212;
inline constexpr int discovery_rounds = 3;
inline constexpr int discovery_round_ms = 1000;
inline constexpr std::size_t discovery_basic_size = 68;
inline constexpr std::size_t discovery_extended_size = 152;

// The request: magic 0xBB1D, 0, 0x4000 (extended reply accepted), little-endian.
inline constexpr std::array<std::uint8_t, 6> discovery_request = {0x1D, 0xBB, 0x00, 0x00, 0x00, 0x40};

// MAC address followed by two zero bytes.
using mac_key = std::array<std::uint8_t, 8>;

struct discovery_reply {
    int system_code = 0; // 522 or 622
    mac_key mac{};
    std::string identifier; // three characters and nine hex digits
};

// Checks one whole datagram; nothing when it is to be dropped.
std::optional<discovery_reply> read_discovery_reply(std::span<const std::uint8_t> datagram);

class discover {
public:
    discover();
    virtual ~discover(); // closes every socket
    discover(const discover&) = delete;
    discover& operator=(const discover&) = delete;

    // Returns nonzero to end the discovery at once.
    virtual int on_found(int socket, std::span<const std::uint8_t> reply, const mac_key& mac,
                         const ip_address& sender, const std::string& identifier) = 0;

    // One socket per usable interface; 0, or -1 when any interface failed
    // (the sockets that worked are kept).
    int open_sockets();
    // 0 after the three rounds (or at once without sockets), -1 when it
    // ended early.
    int run_discovery();
    // Any thread: ends a running (or the next) run_discovery early.
    void stop();
    std::size_t socket_count() const { return sockets_.size(); }

private:
    int handle_reply(int socket, std::span<const std::uint8_t> datagram, const ip_address& sender);

    std::vector<int> sockets_;
    std::vector<mac_key> seen_; // this run's MACs
    std::unique_ptr<discovery_net::waiter> wake_;
    std::atomic<bool> stopping_{false};
};

} // namespace talvor
