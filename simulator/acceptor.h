#pragma once
// A listening TCP socket that hands every accepted connection to a callback.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <functional>
#include <string>

namespace talvor::sim {

// Binds address:port at once (std::runtime_error naming `where` on failure).
void start_acceptor(boost::asio::io_context& ioc, const std::string& where, const std::string& address,
                    unsigned short port, std::function<void(boost::asio::ip::tcp::socket)> on_accept);

} // namespace talvor::sim
