#include "inventory/discovery_socket.h"
#include "inventory/mapped_address.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace talvor::discovery_net {

namespace {

bool usable(const ifaddrs& row)
{
    if (!row.ifa_addr || row.ifa_addr->sa_family != AF_INET)
        return false;
    if (!(row.ifa_flags & IFF_UP) || !(row.ifa_flags & IFF_RUNNING))
        return false;
    const std::uint32_t address = ntohl(reinterpret_cast<const sockaddr_in*>(row.ifa_addr)->sin_addr.s_addr);
    std::uint32_t mask = 0;
    if (row.ifa_netmask && row.ifa_netmask->sa_family == AF_INET)
        mask = ntohl(reinterpret_cast<const sockaddr_in*>(row.ifa_netmask)->sin_addr.s_addr);
    return (address & mask) != 0x7F000000u;
}

} // namespace

std::optional<std::vector<std::uint32_t>> usable_ipv4_addresses()
{
    ifaddrs* table = nullptr;
    if (getifaddrs(&table) != 0)
        return std::nullopt;
    std::vector<std::uint32_t> out;
    for (const ifaddrs* row = table; row; row = row->ifa_next)
        if (usable(*row))
            out.push_back(reinterpret_cast<const sockaddr_in*>(row->ifa_addr)->sin_addr.s_addr);
    freeifaddrs(table);
    return out;
}

int open_bound(std::uint32_t ipv4, std::uint16_t port)
{
    const int s = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    const int off = 0;
    const int on = 1;
    const sockaddr_in6 local = mapped(ipv4, port);
    if (setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) != 0
        || setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0
        || ::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

void close_socket(int s) { ::close(s); }

bool make_nonblocking(int s)
{
    const int fl = fcntl(s, F_GETFL);
    return fl >= 0 && fcntl(s, F_SETFL, fl | O_NONBLOCK) == 0;
}

bool send_broadcast(int s, std::span<const std::uint8_t> datagram, std::uint16_t port)
{
    const sockaddr_in6 target = mapped(htonl(INADDR_BROADCAST), port);
    const ssize_t n = ::sendto(s, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&target),
                               sizeof target);
    return n == static_cast<ssize_t>(datagram.size());
}

long receive(int s, std::span<std::uint8_t> buffer, ip_address& sender)
{
    sockaddr_storage from{};
    socklen_t from_size = sizeof from;
    // MSG_TRUNC gives the datagram's real length, so a longer datagram is
    // dropped instead of read as a cut one.
    const ssize_t n =
        ::recvfrom(s, buffer.data(), buffer.size(), MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &from_size);
    if (n < 0 || from.ss_family != AF_INET6)
        return -1;
    std::memcpy(sender.data(), reinterpret_cast<const sockaddr_in6*>(&from)->sin6_addr.s6_addr, 16);
    return static_cast<long>(n);
}

waiter::waiter() : handle_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

waiter::~waiter()
{
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

bool waiter::ok() const { return handle_ >= 0; }

void waiter::wake()
{
    if (handle_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(static_cast<int>(handle_), &one, sizeof one);
    }
}

bool waiter::wait(const std::vector<int>& sockets, int milliseconds)
{
    std::vector<pollfd> waits;
    for (int s : sockets)
        waits.push_back(pollfd{s, POLLIN, 0});
    waits.push_back(pollfd{static_cast<int>(handle_), POLLIN, 0});
    const int r = ::poll(waits.data(), waits.size(), milliseconds);
    return r >= 0 || errno == EINTR;
}

} // namespace talvor::discovery_net
