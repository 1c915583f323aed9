#include "tests/support/wss_unit.h"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <charconv>
#include <chrono>
#include <mutex>
#include <thread>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

namespace talvor::test {

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

namespace {

using wss_stream = websocket::stream<asio::ssl::stream<tcp::socket>>;

ws_script script_of(unit_mode mode)
{
    switch (mode) {
    case unit_mode::echo:
        return [](int, const std::string& m) -> std::vector<ws_action> { return {reply(m)}; };
    case unit_mode::close_on_message:
        return [](int, const std::string&) -> std::vector<ws_action> { return {{ws_action::close, {}}}; };
    default: // silent; the others never get to their messages
        return [](int, const std::string&) { return std::vector<ws_action>{}; };
    }
}

} // namespace

struct wss_unit::impl {
    asio::io_context loop{1};
    asio::ssl::context tls{asio::ssl::context::tls_server};
    tcp::acceptor acceptor{loop};
    unit_mode mode = unit_mode::echo;
    ws_script script;
    mutable std::mutex lock;
    std::string agent;
    int upgrades = 0;
    int connections = 0;
    std::vector<std::string> messages;
    std::thread thread;

    asio::awaitable<void> read_slowly(wss_stream& ws)
    {
        for (;;) {
            std::size_t total = 0;
            std::vector<char> chunk(16 * 1024);
            asio::steady_timer pause(loop);
            std::size_t since_pause = 0;
            do {
                const std::size_t n = co_await ws.async_read_some(asio::buffer(chunk), asio::use_awaitable);
                total += n;
                since_pause += n;
                if (since_pause >= chunk.size()) {
                    since_pause = 0;
                    pause.expires_after(std::chrono::milliseconds(2));
                    co_await pause.async_wait(asio::use_awaitable);
                }
            } while (!ws.is_message_done());
            const std::string length = std::to_string(total);
            co_await ws.async_write(asio::buffer(length), asio::use_awaitable);
        }
    }

    asio::awaitable<void> serve(tcp::socket socket, int connection)
    {
        try {
            wss_stream ws(std::move(socket), tls);
            co_await ws.next_layer().async_handshake(asio::ssl::stream_base::server, asio::use_awaitable);
            beast::flat_buffer buffer;
            beast::http::request<beast::http::string_body> req;
            co_await beast::http::async_read(ws.next_layer(), buffer, req, asio::use_awaitable);
            {
                std::lock_guard g(lock);
                agent = std::string(req[beast::http::field::user_agent]);
            }
            if (mode == unit_mode::decline_upgrade) {
                beast::http::response<beast::http::string_body> res{beast::http::status::forbidden, 11};
                res.prepare_payload();
                co_await beast::http::async_write(ws.next_layer(), res, asio::use_awaitable);
                co_return;
            }
            ws.read_message_max(64u << 20);
            co_await ws.async_accept(req, asio::use_awaitable);
            {
                std::lock_guard g(lock);
                ++upgrades;
            }
            if (mode == unit_mode::no_reads) {
                asio::steady_timer forever(loop, std::chrono::hours(1));
                co_await forever.async_wait(asio::use_awaitable);
            }
            if (mode == unit_mode::slow_reader)
                co_await read_slowly(ws);
            for (;;) {
                beast::flat_buffer message;
                co_await ws.async_read(message, asio::use_awaitable);
                std::string text = beast::buffers_to_string(message.data());
                {
                    std::lock_guard g(lock);
                    messages.push_back(text);
                }
                for (const auto& a : script(connection, text)) {
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
            asio::co_spawn(loop, serve(std::move(socket), n), asio::detached);
        }
    }
};

wss_unit::wss_unit(const std::string& ip, const issued& cert, unit_mode mode)
    : wss_unit(ip, cert, mode, script_of(mode))
{
}

wss_unit::wss_unit(const std::string& ip, const issued& cert, ws_script script)
    : wss_unit(ip, cert, unit_mode::echo, std::move(script))
{
}

wss_unit::wss_unit(const std::string& ip, ws_script script, bool expired_cert)
    : wss_unit(ip,
               test_authority().issue(
                   cert_options{ip, expired_cert ? -730 : -1, expired_cert ? -365 : 365}),
               unit_mode::echo, std::move(script))
{
}

wss_unit::wss_unit(const std::string& ip, const issued& cert, unit_mode mode, ws_script script)
    : cert_(cert), impl_(std::make_unique<impl>())
{
    impl_->mode = mode;
    impl_->script = std::move(script);
    impl_->tls.use_certificate_chain(asio::buffer(cert_.cert_pem));
    impl_->tls.use_private_key(asio::buffer(cert_.key_pem), asio::ssl::context::pem);
    const tcp::endpoint at(asio::ip::make_address(ip), 443);
    impl_->acceptor.open(at.protocol());
    impl_->acceptor.set_option(tcp::acceptor::reuse_address(true));
    if (mode == unit_mode::slow_reader) // little room in the kernel for what is not read yet
        impl_->acceptor.set_option(asio::socket_base::receive_buffer_size(256 * 1024));
    impl_->acceptor.bind(at);
    impl_->acceptor.listen();
    asio::co_spawn(impl_->loop, impl_->accept_loop(), asio::detached);
    impl_->thread = std::thread([i = impl_.get()] { i->loop.run(); });
}

wss_unit::~wss_unit()
{
    impl_->loop.stop();
    impl_->thread.join();
}

std::string wss_unit::user_agent() const
{
    std::lock_guard g(impl_->lock);
    return impl_->agent;
}

int wss_unit::upgrades() const
{
    std::lock_guard g(impl_->lock);
    return impl_->upgrades;
}

int wss_unit::connections() const
{
    std::lock_guard g(impl_->lock);
    return impl_->connections;
}

std::vector<std::string> wss_unit::messages() const
{
    std::lock_guard g(impl_->lock);
    return impl_->messages;
}

} // namespace talvor::test
