#include "simulator/acceptor.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <chrono>
#include <memory>
#include <stdexcept>

namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace talvor::sim {
namespace {

class acceptor_loop : public std::enable_shared_from_this<acceptor_loop> {
public:
    acceptor_loop(net::io_context& ioc, std::function<void(tcp::socket)> on_accept)
        : ioc_(ioc), acceptor_(net::make_strand(ioc)), retry_(acceptor_.get_executor()), on_accept_(std::move(on_accept))
    {
    }

    void bind(const std::string& where, const std::string& address, unsigned short port)
    {
        boost::system::error_code ec;
        tcp::endpoint ep(net::ip::make_address(address, ec), port);
        if (!ec)
            acceptor_.open(ep.protocol(), ec);
        if (!ec)
            acceptor_.set_option(net::socket_base::reuse_address(true), ec);
        if (!ec)
            acceptor_.bind(ep, ec);
        if (!ec)
            acceptor_.listen(net::socket_base::max_listen_connections, ec);
        if (ec)
            throw std::runtime_error(where + ": cannot listen on " + address + " port " + std::to_string(port) +
                                     ": " + ec.message());
    }

    void accept()
    {
        acceptor_.async_accept(net::make_strand(ioc_), [self = shared_from_this()](boost::system::error_code ec,
                                                                                   tcp::socket socket) {
            if (ec == net::error::operation_aborted || !self->acceptor_.is_open())
                return;
            if (!ec) {
                self->on_accept_(std::move(socket));
                return self->accept();
            }
            // Out of descriptors and the like: try again shortly instead of spinning.
            self->retry_.expires_after(std::chrono::milliseconds(50));
            self->retry_.async_wait([self](boost::system::error_code) { self->accept(); });
        });
    }

private:
    net::io_context& ioc_;
    tcp::acceptor acceptor_;
    net::steady_timer retry_;
    std::function<void(tcp::socket)> on_accept_;
};

} // namespace

void start_acceptor(net::io_context& ioc, const std::string& where, const std::string& address, unsigned short port,
                    std::function<void(tcp::socket)> on_accept)
{
    auto loop = std::make_shared<acceptor_loop>(ioc, std::move(on_accept));
    loop->bind(where, address, port);
    loop->accept();
}

} // namespace talvor::sim
