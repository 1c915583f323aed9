#pragma once
// The system's side of discovery: the interface list and the UDP sockets,
// each an IPv6 socket that also carries IPv4 (addresses mapped).
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "transport/conn_sess.h"

namespace talvor::discovery_net {

// The IPv4 address (network byte order) of every interface that is up and
// running and not on the loopback network; nothing when the list cannot
// be read.
std::optional<std::vector<std::uint32_t>> usable_ipv4_addresses();

// A socket bound to `ipv4`:`port` with broadcasts allowed, or -1.
int open_bound(std::uint32_t ipv4, std::uint16_t port);
void close_socket(int s);
bool make_nonblocking(int s);
// Whether the whole datagram went to the IPv4 broadcast address.
bool send_broadcast(int s, std::span<const std::uint8_t> datagram, std::uint16_t port);
// One waiting datagram's full length (more than `buffer` holds when it was
// longer and cut), or -1 when none waits or it came from no IPv6 address.
long receive(int s, std::span<std::uint8_t> buffer, ip_address& sender);

// Waits until a socket has a datagram, the time is up or wake() is called
// from another thread.
class waiter {
public:
    waiter();
    ~waiter();
    waiter(const waiter&) = delete;
    waiter& operator=(const waiter&) = delete;

    bool ok() const;
    void wake();
    // false on a failure of the wait itself.
    bool wait(const std::vector<int>& sockets, int milliseconds);

private:
    std::intptr_t handle_ = -1;
};

} // namespace talvor::discovery_net
