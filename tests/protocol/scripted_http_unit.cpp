#include "tests/protocol/scripted_http_unit.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <mutex>
#include <thread>

namespace talvor::test {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

struct scripted_http_unit::impl {
    asio::io_context io;
    tcp::acceptor acceptor{io};
    http_script script;
    mutable std::mutex lock;
    std::vector<http_seen> seen;
    std::thread thread;

    asio::awaitable<void> serve(tcp::socket socket)
    {
        try {
            beast::flat_buffer buffer;
            for (;;) {
                http::request_parser<http::string_body> parser;
                parser.body_limit(64u << 20);
                co_await http::async_read(socket, buffer, parser, asio::use_awaitable);
                auto& req = parser.get();
                http_seen s{std::string(req.method_string()), std::string(req.target()), req.body()};
                {
                    std::lock_guard g(lock);
                    seen.push_back(s);
                }
                const http_answer a = script(s);
                http::response<http::string_body> res{static_cast<http::status>(a.status), 11};
                for (const auto& [k, v] : a.headers)
                    res.insert(k, v);
                res.body() = a.body;
                res.keep_alive(req.keep_alive());
                res.prepare_payload();
                co_await http::async_write(socket, res, asio::use_awaitable);
                if (!req.keep_alive())
                    co_return;
            }
        } catch (const std::exception&) {
            // The client closed the connection.
        }
    }

    asio::awaitable<void> accept_loop()
    {
        for (;;) {
            auto [ec, socket] = co_await acceptor.async_accept(asio::as_tuple(asio::use_awaitable));
            if (ec)
                co_return;
            asio::co_spawn(io, serve(std::move(socket)), asio::detached);
        }
    }
};

scripted_http_unit::scripted_http_unit(const std::string& ip, http_script script) : impl_(std::make_unique<impl>())
{
    impl_->script = std::move(script);
    const tcp::endpoint at(asio::ip::make_address(ip), 80);
    impl_->acceptor.open(at.protocol());
    impl_->acceptor.set_option(asio::socket_base::reuse_address(true));
    impl_->acceptor.bind(at);
    impl_->acceptor.listen();
    asio::co_spawn(impl_->io, impl_->accept_loop(), asio::detached);
    impl_->thread = std::thread([i = impl_.get()] { i->io.run(); });
}

scripted_http_unit::~scripted_http_unit()
{
    impl_->io.stop();
    impl_->thread.join();
}

std::vector<http_seen> scripted_http_unit::requests() const
{
    std::lock_guard g(impl_->lock);
    return impl_->seen;
}

} // namespace talvor::test
