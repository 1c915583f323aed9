#include "inventory/discovery.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "inventory/discovery_socket.h"

namespace talvor {

namespace {

unsigned le16(std::span<const std::uint8_t> b, std::size_t at)
{
    return static_cast<unsigned>(b[at]) | (static_cast<unsigned>(b[at + 1]) << 8);
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

discover::discover() : wake_(std::make_unique<discovery_net::waiter>()) {}

discover::~discover()
{
    for (int s : sockets_)
        discovery_net::close_socket(s);
}

void discover::stop()
{
    stopping_.store(true);
    wake_->wake();
}

int discover::open_sockets()
{
    const auto addresses = discovery_net::usable_ipv4_addresses();
    if (!addresses)
        return -1;
    int result = 0;
    for (const std::uint32_t a : *addresses) {
        const int s = discovery_net::open_bound(a, discovery_local_port);
        if (s < 0)
            result = -1;
        else
            sockets_.push_back(s);
    }
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
    if (!wake_->ok())
        return -1;
    for (int s : sockets_)
        if (!discovery_net::make_nonblocking(s))
            return -1;
    seen_.clear();

    using clock = std::chrono::steady_clock;
    for (int round = 0; round < discovery_rounds; ++round) {
        if (stopping_.load())
            return -1;
        int sent = 0;
        for (int s : sockets_)
            if (discovery_net::send_broadcast(s, discovery_request, discovery_unit_port))
                ++sent;
        if (sent == 0)
            return -1;

        const auto t0 = clock::now();
        for (;;) {
            const auto passed = std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - t0).count();
            if (passed >= discovery_round_ms)
                break;
            for (int s : sockets_) {
                std::array<std::uint8_t, discovery_extended_size> buffer;
                ip_address sender;
                const long n = discovery_net::receive(s, buffer, sender);
                if (n < 0)
                    continue;
                const auto length = static_cast<std::size_t>(n);
                if (length > buffer.size())
                    continue;
                if (handle_reply(s, std::span<const std::uint8_t>(buffer.data(), length), sender) != 0)
                    return -1;
            }
            if (stopping_.load())
                return -1;
            const auto now_passed =
                std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - t0).count();
            const int left = static_cast<int>(std::max<long long>(0, discovery_round_ms - now_passed));
            if (!wake_->wait(sockets_, left))
                return -1;
            if (stopping_.load())
                return -1;
        }
    }
    return 0;
}

} // namespace talvor
