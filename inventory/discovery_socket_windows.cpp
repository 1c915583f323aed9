#include "inventory/discovery_socket.h"
#include "inventory/mapped_address.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <cstring>

namespace talvor::discovery_net {

// Winsock's handles are small kernel handle values: they fit the int the
// rest of discovery carries, as OpenSSL also assumes.
namespace {

SOCKET handle(int s) { return static_cast<SOCKET>(s); }

// Winsock is started once for the process; it stays up until the end.
bool winsock_started()
{
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

} // namespace

std::optional<std::vector<std::uint32_t>> usable_ipv4_addresses()
{
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    std::vector<unsigned char> table(16 * 1024);
    ULONG size = static_cast<ULONG>(table.size());
    ULONG r = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && r == ERROR_BUFFER_OVERFLOW; ++attempt) {
        table.resize(size);
        r = ::GetAdaptersAddresses(AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(table.data()),
                                   &size);
    }
    if (r == ERROR_NO_DATA)
        return std::vector<std::uint32_t>{};
    if (r != NO_ERROR)
        return std::nullopt;
    std::vector<std::uint32_t> out;
    for (auto* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(table.data()); a; a = a->Next) {
        if (a->OperStatus != IfOperStatusUp)
            continue;
        for (const IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u; u = u->Next) {
            const sockaddr* sa = u->Address.lpSockaddr;
            if (!sa || sa->sa_family != AF_INET)
                continue;
            const std::uint32_t address = reinterpret_cast<const sockaddr_in*>(sa)->sin_addr.s_addr;
            const unsigned bits = u->OnLinkPrefixLength;
            const std::uint32_t mask = bits == 0 ? 0 : bits >= 32 ? 0xFFFFFFFFu : ~((1u << (32 - bits)) - 1);
            if ((ntohl(address) & mask) != 0x7F000000u)
                out.push_back(address);
        }
    }
    return out;
}

int open_bound(std::uint32_t ipv4, std::uint16_t port)
{
    if (!winsock_started())
        return -1;
    const SOCKET s = ::WSASocketW(AF_INET6, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET)
        return -1;
    const DWORD off = 0;
    const BOOL on = TRUE;
    const sockaddr_in6 local = mapped(ipv4, port);
    if (::setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&off), sizeof off) != 0
        || ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) != 0
        || ::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        ::closesocket(s);
        return -1;
    }
    return static_cast<int>(s);
}

void close_socket(int s) { ::closesocket(handle(s)); }

bool make_nonblocking(int s)
{
    u_long on = 1;
    return ::ioctlsocket(handle(s), FIONBIO, &on) == 0;
}

bool send_broadcast(int s, std::span<const std::uint8_t> datagram, std::uint16_t port)
{
    const sockaddr_in6 target = mapped(htonl(INADDR_BROADCAST), port);
    const int n = ::sendto(handle(s), reinterpret_cast<const char*>(datagram.data()), static_cast<int>(datagram.size()),
                           0, reinterpret_cast<const sockaddr*>(&target), sizeof target);
    return n == static_cast<int>(datagram.size());
}

long receive(int s, std::span<std::uint8_t> buffer, ip_address& sender)
{
    sockaddr_storage from{};
    int from_size = sizeof from;
    const int n = ::recvfrom(handle(s), reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0,
                             reinterpret_cast<sockaddr*>(&from), &from_size);
    // Winsock drops the rest of a longer datagram and says so: report it
    // as longer, so that it is dropped rather than read as a cut one.
    if (n == SOCKET_ERROR)
        return ::WSAGetLastError() == WSAEMSGSIZE ? static_cast<long>(buffer.size()) + 1 : -1;
    if (from.ss_family != AF_INET6)
        return -1;
    std::memcpy(sender.data(), reinterpret_cast<const sockaddr_in6*>(&from)->sin6_addr.s6_addr, 16);
    return n;
}

// Windows has no eventfd that poll() can watch beside sockets: a UDP
// socket on the loopback address, connected to itself, wakes the wait
// with one datagram.
waiter::waiter()
{
    if (!winsock_started())
        return;
    const SOCKET s = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET)
        return;
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof self;
    if (::bind(s, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0
        || ::getsockname(s, reinterpret_cast<sockaddr*>(&self), &size) != 0
        || ::connect(s, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0) {
        ::closesocket(s);
        return;
    }
    handle_ = static_cast<std::intptr_t>(s);
}

waiter::~waiter()
{
    if (handle_ != -1)
        ::closesocket(static_cast<SOCKET>(handle_));
}

bool waiter::ok() const { return handle_ != -1; }

void waiter::wake()
{
    if (handle_ != -1) {
        const char one = 1;
        ::send(static_cast<SOCKET>(handle_), &one, 1, 0);
    }
}

bool waiter::wait(const std::vector<int>& sockets, int milliseconds)
{
    std::vector<WSAPOLLFD> waits;
    for (int s : sockets)
        waits.push_back(WSAPOLLFD{handle(s), POLLRDNORM, 0});
    waits.push_back(WSAPOLLFD{static_cast<SOCKET>(handle_), POLLRDNORM, 0});
    return ::WSAPoll(waits.data(), static_cast<ULONG>(waits.size()), milliseconds) != SOCKET_ERROR;
}

} // namespace talvor::discovery_net
