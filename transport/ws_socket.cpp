#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/beast/websocket/error.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <algorithm>
#include <array>

#include "transport/conn_sess.h"
#include "transport/conn_sess_impl.h"
#include "transport/io_step.h"
#include "transport/socket_calls.h"
#include "transport/tls_checks.h"
#include "transport/tls_stream.h"
#include "transport/unit_connect.h"

namespace asio = boost::asio;
namespace websocket = boost::beast::websocket;
using boost::system::error_code;
using tcp = asio::ip::tcp;

namespace talvor {

namespace {

// Reads start small and grow with the message: most replies are a few
// hundred bytes, and a 64 KiB first step per request, zeroed, was a good
// part of the memory of a thousand units refreshing at once.
constexpr std::size_t first_read_bytes = 2 * 1024;
constexpr std::size_t read_step_bytes = 64 * 1024;
// Replies carry up to 16 MiB of payload after their "data:" prefix; longer
// messages are still read to their end (and dropped) up to this bound.
constexpr std::uint64_t message_bound = 64u << 20;
constexpr std::uint32_t relaxable = problem_identity | problem_untrusted | problem_invalid;

using wss_stream = websocket::stream<tls_stream>;

// Changes whenever bytes of an outgoing message move: TLS writes more, or
// the unit acknowledges some of what waits in the kernel. The kernel's send
// queue alone can hold seconds of a slow link, so writes may pause that long
// while the unit still takes data.
std::uint64_t bytes_moved(SSL* ssl, os_socket s)
{
    return BIO_number_written(SSL_get_wbio(ssl)) - socket_unsent(s);
}

} // namespace

struct ws_socket::impl {
    conn_sess::impl& session;
    asio::io_context loop{1};
    std::unique_ptr<wss_stream> ws;
    std::uint32_t found = 0; // written by the verification callback
    byte_vector certificate;

    explicit impl(conn_sess::impl& s) : session(s) {}
    ~impl() { drop(); }

    void drop()
    {
        if (ws) {
            error_code ignored;
            boost::beast::get_lowest_layer(*ws).close(ignored);
            ws.reset();
        }
        certificate.clear();
    }

    step_end step(std::chrono::milliseconds limit, const bool& finished, const std::function<void()>& start)
    {
        auto& s = *ws;
        return run_step(loop, session, limit, start, finished, [&s] {
            error_code ignored;
            boost::beast::get_lowest_layer(s).close(ignored);
        });
    }

    int connect() { return connect_unit(loop, session, boost::beast::get_lowest_layer(*ws), 443); }

    int tls_handshake(std::uint32_t accepted, std::uint32_t& found_problems)
    {
        found = 0;
        if (!prepare_unit_tls(ws->next_layer().native_handle(), session.address, &found))
            return tcode::option_failed;
        bool finished = false;
        error_code ec;
        const auto end = step(session.timeouts.receive, finished, [&] {
            ws->next_layer().async_handshake([&](error_code e, std::size_t) {
                ec = e;
                finished = true;
            });
        });
        if (end == step_end::cancelled)
            return tcode::cancelled;
        if (end == step_end::timed_out || ec)
            return tcode::send_error;
        found |= legacy_problems(ws->next_layer().native_handle());
        const std::uint32_t open_problems = found & ~(accepted & relaxable);
        if (open_problems & problem_other)
            return tcode::send_error;
        if (open_problems) {
            found_problems = open_problems;
            return tcode::certificate_problem;
        }
        if (X509* peer = SSL_get1_peer_certificate(ws->next_layer().native_handle())) {
            const int size = i2d_X509(peer, nullptr);
            if (size > 0) {
                certificate.resize(static_cast<std::size_t>(size));
                unsigned char* p = certificate.data();
                i2d_X509(peer, &p);
            }
            X509_free(peer);
        }
        return tcode::ok;
    }

    int upgrade()
    {
        const std::string agent = session.user_agent;
        ws->set_option(websocket::stream_base::decorator([agent](websocket::request_type& req) {
            req.set(boost::beast::http::field::user_agent, agent);
        }));
        ws->read_message_max(message_bound);
        ws->auto_fragment(false); // one frame per message, as the units expect
        ws->binary(true);
        bool finished = false;
        error_code ec;
        const auto end = step(session.timeouts.receive, finished, [&] {
            ws->async_handshake(session.host, "/", [&](error_code e) {
                ec = e;
                finished = true;
            });
        });
        if (end == step_end::cancelled)
            return tcode::cancelled;
        if (end == step_end::timed_out)
            return tcode::receive_error;
        if (ec == websocket::error::upgrade_declined)
            return tcode::upgrade_refused;
        if (ec)
            return tcode::upgrade_failed;
        return tcode::ok;
    }

    int open(std::uint32_t accepted, std::uint32_t& found_problems)
    {
        SSL_CTX* ctx = make_unit_tls_context();
        if (!ctx)
            return tcode::option_failed;
        ws = std::make_unique<wss_stream>(loop, ctx);
        if (!ws->next_layer().native_handle()) {
            drop();
            return tcode::option_failed;
        }
        int r = connect();
        if (r == tcode::ok)
            r = tls_handshake(accepted, found_problems);
        if (r == tcode::ok)
            r = upgrade();
        if (r != tcode::ok)
            drop();
        return r;
    }
};

ws_socket::ws_socket(std::shared_ptr<conn_sess> session)
    : session_(std::move(session)), impl_(std::make_unique<impl>(session_->internals()))
{
}

ws_socket::~ws_socket() = default;

int ws_socket::open(std::uint32_t accepted_problems, std::uint32_t& found_problems)
{
    found_problems = 0;
    if (impl_->ws)
        return tcode::socket_already_open;
    return impl_->open(accepted_problems, found_problems);
}

bool ws_socket::is_open() const { return impl_->ws != nullptr; }

int ws_socket::send(std::span<const std::uint8_t> message) { return send(message, {}); }

int ws_socket::send(std::span<const std::uint8_t> head, std::span<const std::uint8_t> tail)
{
    if (!impl_->ws)
        return tcode::no_socket;
    bool finished = false;
    error_code ec;
    // A large message on a slow link takes long; it fails only when no byte
    // has moved for the whole limit.
    SSL* ssl = impl_->ws->next_layer().native_handle();
    auto& s = *impl_->ws;
    const std::array<asio::const_buffer, 2> parts{asio::buffer(head.data(), head.size()),
                                                  asio::buffer(tail.data(), tail.size())};
    const auto end = run_step(
        impl_->loop, impl_->session, impl_->session.timeouts.send,
        [&] {
            s.async_write(parts, [&](error_code e, std::size_t) {
                ec = e;
                finished = true;
            });
        },
        finished,
        [&s] {
            error_code ignored;
            boost::beast::get_lowest_layer(s).close(ignored);
        },
        [ssl, fd = static_cast<os_socket>(boost::beast::get_lowest_layer(s).native_handle())] {
            return bytes_moved(ssl, fd);
        });
    if (end == step_end::done && !ec)
        return tcode::ok;
    impl_->drop();
    return end == step_end::cancelled ? tcode::cancelled : tcode::ws_send_error;
}

int ws_socket::receive(byte_vector& message, std::size_t capacity, bool& overflow)
{
    message.clear();
    overflow = false;
    if (!impl_->ws)
        return tcode::no_socket;
    byte_vector spill; // where the part beyond `capacity` goes to be dropped
    do {
        const std::size_t room = capacity - message.size();
        std::uint8_t* into;
        std::size_t size;
        const std::size_t kept = message.size();
        if (room > 0) {
            size = std::min(room, std::clamp(kept, first_read_bytes, read_step_bytes));
            message.resize(kept + size);
            into = message.data() + kept;
        } else {
            overflow = true;
            spill.resize(read_step_bytes);
            size = spill.size();
            into = spill.data();
        }
        bool finished = false;
        error_code ec;
        std::size_t got = 0;
        const auto end = impl_->step(impl_->session.timeouts.receive, finished, [&] {
            impl_->ws->async_read_some(asio::buffer(into, size), [&](error_code e, std::size_t n) {
                ec = e;
                got = n;
                finished = true;
            });
        });
        if (room > 0)
            message.resize(kept + got);
        if (end != step_end::done || ec) {
            message.clear();
            overflow = false;
            impl_->drop();
            if (end == step_end::cancelled)
                return tcode::cancelled;
            if (ec == websocket::error::closed)
                return tcode::ws_closed_by_unit;
            return tcode::ws_receive_error;
        }
    } while (!impl_->ws->is_message_done());
    if (overflow)
        message.clear();
    return tcode::ok;
}

void ws_socket::close() { impl_->drop(); }

byte_vector ws_socket::server_certificate() const { return impl_->ws ? impl_->certificate : byte_vector{}; }

} // namespace talvor
