#pragma once
// A TCP port on a loopback address that takes connections and never reads
// or answers: a unit that accepts and stalls.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

namespace talvor::test {

class silent_listener {
public:
    explicit silent_listener(const std::string& ipv4, int port = 80)
    {
        namespace ip = boost::asio::ip;
        boost::system::error_code ec;
        const ip::tcp::endpoint at(ip::make_address_v4(ipv4, ec), static_cast<unsigned short>(port));
        if (!ec)
            acceptor_.open(ip::tcp::v4(), ec);
        if (!ec)
            acceptor_.set_option(ip::tcp::acceptor::reuse_address(true), ec);
        if (!ec)
            acceptor_.bind(at, ec);
        if (!ec)
            acceptor_.listen(16, ec);
        if (ec)
            throw std::runtime_error("cannot listen on " + ipv4);
    }
    silent_listener(const silent_listener&) = delete;
    silent_listener& operator=(const silent_listener&) = delete;

    // True once a connection came to every listener, within `limit`. The
    // connections stay open, unread. (Accepted rather than waited for:
    // Asio on Windows waits for readability with a zero-byte read, which a
    // listening socket refuses.)
    static bool all_connected(const std::vector<silent_listener*>& listeners, std::chrono::milliseconds limit)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        for (silent_listener* l : listeners) {
            bool came = false;
            l->held_.emplace_back(l->loop_);
            l->acceptor_.async_accept(l->held_.back(), [&came](boost::system::error_code ec) { came = !ec; });
            l->loop_.restart();
            l->loop_.run_until(end);
            if (!came) {
                l->acceptor_.cancel();
                l->loop_.restart();
                l->loop_.run(); // the cancelled accept's handler
                return false;
            }
        }
        return true;
    }

private:
    boost::asio::io_context loop_{1};
    boost::asio::ip::tcp::acceptor acceptor_{loop_};
    std::deque<boost::asio::ip::tcp::socket> held_;
};

} // namespace talvor::test
