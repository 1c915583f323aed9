#include "tests/protocol/scripted_wss_unit.h"

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <charconv>
#include <thread>

namespace talvor::test {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

long long envelope_id(const std::string& message)
{
    static const std::string head = "{ \"_id\" : ";
    if (message.compare(0, head.size(), head) != 0)
        return -1;
    long long id = -1;
    const char* first = message.data() + head.size();
    std::from_chars(first, message.data() + message.size(), id);
    return id;
}

std::string request_name(const std::string& message)
{
    static const std::string key = "\"request\" : \"";
    const auto at = message.find(key);
    if (at == std::string::npos)
        return {};
    const auto from = at + key.size();
    return message.substr(from, message.find('"', from) - from);
}

std::string answer(const std::string& message, int status, const std::string& payload)
{
    return "data:" + std::to_string(envelope_id(message)) + "," + std::to_string(status) + "," + payload;
}

struct scripted_wss_unit::impl {
    asio::io_context io;
    asio::ssl::context tls{asio::ssl::context::tls_server};
    tcp::acceptor acceptor{io};
    ws_script script;
    mutable std::mutex lock;
    std::vector<std::string> messages;
    int connections = 0;
    std::thread thread;

    asio::awaitable<void> serve(tcp::socket socket, int connection)
    {
        try {
            websocket::stream<asio::ssl::stream<tcp::socket>> ws(std::move(socket), tls);
            co_await ws.next_layer().async_handshake(asio::ssl::stream_base::server, asio::use_awaitable);
            co_await ws.async_accept(asio::use_awaitable);
            for (;;) {
                beast::flat_buffer buffer;
                co_await ws.async_read(buffer, asio::use_awaitable);
                std::string message = beast::buffers_to_string(buffer.data());
                {
                    std::lock_guard g(lock);
                    messages.push_back(message);
                }
                for (const auto& a : script(connection, message)) {
                    if (a.kind == ws_action::close) {
                        co_await ws.async_close(websocket::close_code::normal, asio::use_awaitable);
                        co_return;
                    }
                    if (a.kind == ws_action::drop) {
                        beast::get_lowest_layer(ws).close();
                        co_return;
                    }
                    ws.binary(a.kind == ws_action::binary);
                    co_await ws.async_write(asio::buffer(a.bytes), asio::use_awaitable);
                }
            }
        } catch (const std::exception&) {
            // The client went away; nothing to clean up beyond the stream.
        }
    }

    asio::awaitable<void> accept_loop()
    {
        for (;;) {
            auto [ec, socket] = co_await acceptor.async_accept(asio::as_tuple(asio::use_awaitable));
            if (ec)
                co_return;
            int n = 0;
            {
                std::lock_guard g(lock);
                n = connections++;
            }
            asio::co_spawn(io, serve(std::move(socket), n), asio::detached);
        }
    }
};

scripted_wss_unit::scripted_wss_unit(const std::string& ip, ws_script script, bool expired_cert)
    : cert_(make_test_cert(ip, expired_cert)), impl_(std::make_unique<impl>())
{
    impl_->script = std::move(script);
    impl_->tls.use_certificate_chain(asio::buffer(cert_.cert_pem));
    impl_->tls.use_private_key(asio::buffer(cert_.key_pem), asio::ssl::context::pem);
    const tcp::endpoint at(asio::ip::make_address(ip), 443);
    impl_->acceptor.open(at.protocol());
    impl_->acceptor.set_option(asio::socket_base::reuse_address(true));
    impl_->acceptor.bind(at);
    impl_->acceptor.listen();
    asio::co_spawn(impl_->io, impl_->accept_loop(), asio::detached);
    impl_->thread = std::thread([i = impl_.get()] { i->io.run(); });
}

scripted_wss_unit::~scripted_wss_unit()
{
    impl_->io.stop();
    impl_->thread.join();
}

std::vector<std::string> scripted_wss_unit::messages() const
{
    std::lock_guard g(impl_->lock);
    return impl_->messages;
}

int scripted_wss_unit::connections() const
{
    std::lock_guard g(impl_->lock);
    return impl_->connections;
}

} // namespace talvor::test
