// UDP 2211: each unit answers the 6-byte request from its own address; in
// wildcard mode one extra socket catches broadcasts for the whole fleet.
#include "simulator/listeners.h"

#include <array>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <stdexcept>

namespace net = boost::asio;
using udp = net::ip::udp;

namespace talvor::sim {
namespace {

constexpr unsigned short discovery_port = 2211;

void put16(std::string& s, std::size_t at, unsigned v)
{
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

// A unit's own discovery socket; also the one its replies leave from.
class unit_socket : public std::enable_shared_from_this<unit_socket> {
public:
    // On a strand: the wildcard socket's thread may answer through it too.
    unit_socket(net::io_context& ioc, std::shared_ptr<unit> u, std::shared_ptr<shared_ctx> ctx)
        : socket_(net::make_strand(ioc)), unit_(std::move(u)), ctx_(std::move(ctx))
    {
    }

    void bind(const std::string& address)
    {
        boost::system::error_code ec;
        udp::endpoint ep(net::ip::make_address(address, ec), discovery_port);
        if (!ec)
            socket_.open(ep.protocol(), ec);
        if (!ec)
            socket_.set_option(net::socket_base::reuse_address(true), ec);
        if (!ec)
            socket_.bind(ep, ec);
        if (ec)
            throw std::runtime_error("unit \"" + unit_->cfg.name + "\": cannot bind discovery port on " + address +
                                     ": " + ec.message());
    }

    void receive()
    {
        socket_.async_receive_from(net::buffer(buf_), from_,
                                   [self = shared_from_this()](boost::system::error_code ec, std::size_t n) {
                                       if (ec == net::error::operation_aborted)
                                           return;
                                       if (!ec)
                                           self->answer(std::string(self->buf_.data(), n), self->from_);
                                       self->receive();
                                   });
    }

    void answer_later(std::string request, udp::endpoint to)
    {
        net::post(socket_.get_executor(), [self = shared_from_this(), request = std::move(request), to] {
            self->answer(request, to);
        });
    }

    void answer(const std::string& request, const udp::endpoint& to)
    {
        request_entry e;
        e.unit = unit_->cfg.name;
        e.address = unit_->cfg.address;
        e.time_ms = request_log::now_ms();
        e.method = "UDP";
        e.target = "discover";
        e.body = request;
        bool valid = request.size() == 6 && static_cast<unsigned char>(request[0]) == 0x1D &&
                     static_cast<unsigned char>(request[1]) == 0xBB;
        bool extended = valid && (static_cast<unsigned char>(request[5]) & 0x40) != 0;
        std::string reply = valid ? discovery_reply_bytes(unit_->cfg.discovery, extended) : std::string();
        boost::system::error_code ec;
        auto local = socket_.local_endpoint(ec);
        if (ec || to.address().is_v4() != local.address().is_v4())
            reply.clear();
        e.status = reply.empty() ? 0 : static_cast<int>(reply.size());
        ctx_->log.add(std::move(e));
        if (reply.empty())
            return;
        auto data = std::make_shared<std::string>(std::move(reply));
        socket_.async_send_to(net::buffer(*data), to, [data](boost::system::error_code, std::size_t) {});
    }

private:
    udp::socket socket_;
    std::shared_ptr<unit> unit_;
    std::shared_ptr<shared_ctx> ctx_;
    std::array<char, 512> buf_{};
    udp::endpoint from_;
};

// Receives broadcasts and lets every IPv4 unit answer from its own socket.
class wildcard_socket : public std::enable_shared_from_this<wildcard_socket> {
public:
    wildcard_socket(net::io_context& ioc, std::vector<std::shared_ptr<unit_socket>> units)
        : socket_(ioc), units_(std::move(units))
    {
        boost::system::error_code ec;
        socket_.open(udp::v4(), ec);
        if (!ec)
            socket_.set_option(net::socket_base::reuse_address(true), ec);
        if (!ec)
            socket_.bind(udp::endpoint(udp::v4(), discovery_port), ec);
        if (ec)
            throw std::runtime_error("cannot bind the discovery port on 0.0.0.0: " + ec.message());
    }

    void receive()
    {
        socket_.async_receive_from(net::buffer(buf_), from_,
                                   [self = shared_from_this()](boost::system::error_code ec, std::size_t n) {
                                       if (ec == net::error::operation_aborted)
                                           return;
                                       if (!ec)
                                           for (auto& u : self->units_)
                                               u->answer_later(std::string(self->buf_.data(), n), self->from_);
                                       self->receive();
                                   });
    }

private:
    udp::socket socket_;
    std::vector<std::shared_ptr<unit_socket>> units_;
    std::array<char, 512> buf_{};
    udp::endpoint from_;
};

} // namespace

std::string discovery_reply_bytes(const discovery_reply& d, bool extended_asked)
{
    if (d.form == "silent")
        return {};
    // Only the two mismatched forms ignore what the request asked for.
    bool as_asked = d.form == "extended" || d.form == "bad_magic";
    bool extended = as_asked ? extended_asked : d.form == "extended_without_ext_flag";
    bool ext_flag = as_asked ? extended_asked : d.form == "basic_with_ext_flag";
    std::string r(extended ? 152 : 68, '\0');
    put16(r, 0, d.form == "bad_magic" ? 0xBB1E : 0xBB1D);
    put16(r, 2, static_cast<unsigned>(d.system_code));
    put16(r, 4, 0x8000u | (ext_flag ? 0x4000u : 0u));
    for (std::size_t i = 0; i < 6; ++i)
        r[6 + i] = static_cast<char>(d.mac[i]);
    std::size_t at = extended ? 144 : 60;
    for (std::size_t i = 0; i < 3 && i < d.id.size(); ++i)
        r[at + i] = d.id[i];
    // Nine hex digits packed high nibble first into the next five bytes.
    for (std::size_t i = 0; i < 9 && 3 + i < d.id.size(); ++i) {
        int v = hex_value(d.id[3 + i]);
        std::size_t byte = at + 3 + i / 2;
        r[byte] = static_cast<char>(static_cast<unsigned char>(r[byte]) | (i % 2 == 0 ? v << 4 : v));
    }
    return r;
}

void start_discovery(net::io_context& ioc, const std::vector<std::shared_ptr<unit>>& units,
                     std::shared_ptr<shared_ctx> ctx, discovery_mode mode)
{
    if (mode == discovery_mode::off)
        return;
    std::vector<std::shared_ptr<unit_socket>> sockets, v4;
    for (auto& u : units) {
        auto s = std::make_shared<unit_socket>(ioc, u, ctx);
        s->bind(u->cfg.address);
        sockets.push_back(s);
        if (u->cfg.address.find(':') == std::string::npos)
            v4.push_back(s);
    }
    for (auto& s : sockets)
        s->receive();
    if (mode == discovery_mode::wildcard) {
        auto w = std::make_shared<wildcard_socket>(ioc, std::move(v4));
        w->receive();
    }
}

} // namespace talvor::sim
