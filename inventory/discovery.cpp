#include "inventory/discovery.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace talvor {

namespace {

unsigned le16(std::span<const std::uint8_t> b, std::size_t at)
{
    return static_cast<unsigned>(b[at]) | (static_cast<unsigned>(b[at + 1]) << 8);
}

sockaddr_in6 mapped(std::uint32_t ipv4_network_order, std::uint16_t port)
{
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr.s6_addr[10] = 0xFF;
    a.sin6_addr.s6_addr[11] = 0xFF;
    std::memcpy(&a.sin6_addr.s6_addr[12], &ipv4_network_order, 4);
    return a;
}

// Interfaces that are down, not running or on the loopback network are
// left out; nothing else is.
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

std::optional<discovery_reply> read_discovery_reply(std::span<const std::uint8_t> bytes)
{
    const std::size_t length = bytes.size();
    if (length != discovery_basic_size && length != discovery_extended_size)
        return std::nullopt;
    const unsigned flags = le16(bytes, 4);
    const bool extended = (flags & 0x4000) != 0;
    if (extended != (length == discovery_extended_size))
        return std::nullopt;
    if (le16(bytes, 0) != 0xBB1D || !(flags & 0x8000))
        return std::nullopt;
    const int code = static_cast<int>(le16(bytes, 2));
    if (code != 522 && code != 622)
        return std::nullopt;

    discovery_reply r;
    r.system_code = code;
    std::copy(bytes.begin() + 6, bytes.begin() + 12, r.mac.begin());
    const std::size_t at = extended ? 144 : 60;
    r.identifier.assign(reinterpret_cast<const char*>(bytes.data() + at), 3);
    static constexpr char hex[] = "0123456789abcdef";
    for (int n = 0; n < 9; ++n) {
        const std::uint8_t b = bytes[at + 3 + n / 2];
        r.identifier += hex[(n % 2 == 0) ? (b >> 4) : (b & 0x0F)];
    }
    return r;
}

discover::discover()
{
    wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

discover::~discover()
{
    for (int s : sockets_)
        ::close(s);
    if (wake_fd_ >= 0)
        ::close(wake_fd_);
}

void discover::stop()
{
    stopping_.store(true);
    if (wake_fd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wake_fd_, &one, sizeof one);
    }
}

int discover::open_sockets()
{
    ifaddrs* table = nullptr;
    if (getifaddrs(&table) != 0)
        return -1;
    int result = 0;
    for (const ifaddrs* row = table; row; row = row->ifa_next) {
        if (!usable(*row))
            continue;
        const int s = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (s < 0) {
            result = -1;
            continue;
        }
        const int off = 0;
        const int on = 1;
        const sockaddr_in6 local =
            mapped(reinterpret_cast<const sockaddr_in*>(row->ifa_addr)->sin_addr.s_addr, discovery_local_port);
        if (setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) != 0
            || setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0
            || ::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            ::close(s);
            result = -1;
            continue;
        }
        sockets_.push_back(s);
    }
    freeifaddrs(table);
    return result;
}

int discover::handle_reply(int socket, std::span<const std::uint8_t> bytes, const ip_address& sender)
{
    auto reply = read_discovery_reply(bytes);
    if (!reply)
        return 0;
    if (std::find(seen_.begin(), seen_.end(), reply->mac) != seen_.end())
        return 0;
    seen_.push_back(reply->mac);
    return on_found(socket, bytes, reply->mac, sender, reply->identifier);
}

int discover::run_discovery()
{
    if (sockets_.empty())
        return 0;
    if (wake_fd_ < 0)
        return -1;
    for (int s : sockets_) {
        const int fl = fcntl(s, F_GETFL);
        if (fl < 0 || fcntl(s, F_SETFL, fl | O_NONBLOCK) != 0)
            return -1;
    }
    seen_.clear();
    const sockaddr_in6 target = mapped(htonl(INADDR_BROADCAST), discovery_unit_port);

    std::vector<pollfd> waits;
    for (int s : sockets_)
        waits.push_back(pollfd{s, POLLIN, 0});
    waits.push_back(pollfd{wake_fd_, POLLIN, 0});

    using clock = std::chrono::steady_clock;
    for (int round = 0; round < discovery_rounds; ++round) {
        if (stopping_.load())
            return -1;
        int sent = 0;
        for (int s : sockets_) {
            const ssize_t n = ::sendto(s, discovery_request.data(), discovery_request.size(), 0,
                                       reinterpret_cast<const sockaddr*>(&target), sizeof target);
            if (n == static_cast<ssize_t>(discovery_request.size()))
                ++sent;
        }
        if (sent == 0)
            return -1;

        const auto t0 = clock::now();
        for (;;) {
            const auto passed = std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - t0).count();
            if (passed >= discovery_round_ms)
                break;
            for (int s : sockets_) {
                std::array<std::uint8_t, discovery_extended_size> buffer;
                sockaddr_storage from{};
                socklen_t from_size = sizeof from;
                // MSG_TRUNC gives the datagram's real length, so a longer
                // datagram is dropped instead of read as a cut 152-byte one.
                const ssize_t n = ::recvfrom(s, buffer.data(), buffer.size(), MSG_TRUNC,
                                             reinterpret_cast<sockaddr*>(&from), &from_size);
                if (n < 0 || from.ss_family != AF_INET6)
                    continue;
                const auto length = static_cast<std::size_t>(n);
                if (length > buffer.size())
                    continue;
                ip_address sender;
                std::memcpy(sender.data(), reinterpret_cast<const sockaddr_in6*>(&from)->sin6_addr.s6_addr, 16);
                if (handle_reply(s, std::span<const std::uint8_t>(buffer.data(), length), sender) != 0)
                    return -1;
            }
            if (stopping_.load())
                return -1;
            const auto now_passed =
                std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - t0).count();
            const int left = static_cast<int>(std::max<long long>(0, discovery_round_ms - now_passed));
            for (pollfd& p : waits)
                p.revents = 0;
            const int r = ::poll(waits.data(), waits.size(), left);
            if (r < 0 && errno != EINTR)
                return -1;
            if (stopping_.load())
                return -1;
        }
    }
    return 0;
}

} // namespace talvor
