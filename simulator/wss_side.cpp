// Port 443 of WebSocket units: TLS, the upgrade on "/", then one reply
// message per request message.
#include "simulator/acceptor.h"
#include "simulator/listeners.h"
#include "simulator/wss_actions.h"

#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <boost/json.hpp>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <stdexcept>
#include <tuple>

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;

namespace talvor::sim {
namespace {

// The request number and name of a message, read loosely: the random mode
// answers before (and instead of) the envelope checks.
std::pair<std::int64_t, std::string> envelope_head(const std::string& message)
{
    boost::system::error_code ec;
    const auto v = boost::json::parse(std::string_view(message).substr(0, message.find('\0')), ec);
    const auto* o = ec ? nullptr : v.if_object();
    const auto* id = o ? o->if_contains("_id") : nullptr;
    const auto* name = o ? o->if_contains("request") : nullptr;
    return {id && id->is_int64() ? id->as_int64() : 0,
            name && name->is_string() ? std::string(name->as_string()) : std::string("?")};
}

bool carries_upload(std::string_view name)
{
    return name == "fw_net_file.action" || name == "fw_sys_file.action" || name == "config_set.action" ||
           name == "customise_file.action" || name == "cert_upload.action" || name == "priv_upload.action";
}

class wss_session : public std::enable_shared_from_this<wss_session> {
public:
    wss_session(tcp::socket socket, std::shared_ptr<ssl::context> tls, std::shared_ptr<unit> u,
                std::shared_ptr<shared_ctx> ctx)
        : tls_(std::move(tls)), ws_(std::move(socket), *tls_), timer_(ws_.get_executor()), unit_(std::move(u)),
          ctx_(std::move(ctx))
    {
    }

    ~wss_session() { unit_->remove_connection(connection_); }

    void start()
    {
        connection_ = unit_->add_connection([weak = weak_from_this()] {
            if (auto self = weak.lock())
                net::post(self->ws_.get_executor(), [self] {
                    beast::error_code ignored;
                    beast::get_lowest_layer(self->ws_).socket().shutdown(tcp::socket::shutdown_both, ignored);
                    beast::get_lowest_layer(self->ws_).socket().close(ignored);
                });
        });
        beast::get_lowest_layer(ws_).expires_after(std::chrono::seconds(30));
        ws_.next_layer().async_handshake(ssl::stream_base::server,
                                         beast::bind_front_handler(&wss_session::on_handshake, shared_from_this()));
    }

private:
    std::shared_ptr<ssl::context> tls_;
    websocket::stream<beast::ssl_stream<beast::tcp_stream>> ws_;
    net::steady_timer timer_;
    std::shared_ptr<unit> unit_;
    std::shared_ptr<shared_ctx> ctx_;
    beast::flat_buffer buffer_;
    http::request<http::string_body> upgrade_;
    http::response<http::string_body> refusal_;
    std::string reply_;
    bool logged_in_ = false;
    bool stalled_ = false;
    std::uint64_t connection_ = 0;

    request_entry entry(std::string method, std::string target, std::string body, int status)
    {
        request_entry e;
        e.unit = unit_->cfg.name;
        e.address = unit_->cfg.address;
        e.time_ms = request_log::now_ms();
        e.method = std::move(method);
        e.target = std::move(target);
        e.body = std::move(body);
        e.status = status;
        return e;
    }

    void on_handshake(beast::error_code ec)
    {
        if (ec)
            return; // the client refused the certificate, most likely
        http::async_read(ws_.next_layer(), buffer_, upgrade_,
                         beast::bind_front_handler(&wss_session::on_upgrade, shared_from_this()));
    }

    void on_upgrade(beast::error_code ec, std::size_t)
    {
        if (ec)
            return;
        bool ok = websocket::is_upgrade(upgrade_) && upgrade_.target() == "/";
        auto e = entry(std::string(upgrade_.method_string()), std::string(upgrade_.target()), upgrade_.body(),
                       ok ? 101 : 404);
        for (auto& field : upgrade_)
            e.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
        ctx_->log.add(std::move(e));
        beast::get_lowest_layer(ws_).expires_never();
        if (!ok) {
            refusal_.version(upgrade_.version());
            refusal_.result(http::status::not_found);
            refusal_.keep_alive(false);
            refusal_.prepare_payload();
            http::async_write(ws_.next_layer(), refusal_, [self = shared_from_this()](beast::error_code, std::size_t) {
                beast::error_code ignored;
                beast::get_lowest_layer(self->ws_).socket().close(ignored);
            });
            return;
        }
        websocket::stream_base::timeout t{};
        t.handshake_timeout = std::chrono::seconds(30);
        t.idle_timeout = websocket::stream_base::none();
        t.keep_alive_pings = false;
        ws_.set_option(t);
        ws_.read_message_max(body_limit);
        ws_.auto_fragment(false);
        ws_.binary(!unit_->cfg.ws_text_replies);
        ws_.async_accept(upgrade_, beast::bind_front_handler(&wss_session::on_accept, shared_from_this()));
    }

    void on_accept(beast::error_code ec)
    {
        if (!ec)
            read();
    }

    void read()
    {
        buffer_.clear();
        if (unit_->fault_number("slow_ws") > 0)
            return read_slowly();
        ws_.async_read(buffer_, beast::bind_front_handler(&wss_session::on_read, shared_from_this()));
    }

    // A slow link: a pause after every piece of a message, as slow_upload on HTTP.
    void read_slowly()
    {
        ws_.async_read_some(buffer_, 16384, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec)
                return;
            self->timer_.expires_after(std::chrono::milliseconds(self->unit_->fault_number("slow_ws")));
            self->timer_.async_wait([self](beast::error_code) {
                if (self->ws_.is_message_done())
                    return self->on_read({}, 0);
                self->read_slowly();
            });
        });
    }

    void cut()
    {
        beast::error_code ignored;
        beast::get_lowest_layer(ws_).socket().shutdown(tcp::socket::shutdown_both, ignored);
        beast::get_lowest_layer(ws_).socket().close(ignored);
    }

    // A message the random mode or a restart_upload keeps from being acted on.
    void undone(unit::mishap mishap, int restart_ms, std::int64_t number, std::string name, std::string message)
    {
        static const char* const names[] = {"", "drop", "stall", "500", "close"};
        auto e = entry("WS", std::move(name), std::move(message), mishap == unit::mishap::status_500 ? 500 : 0);
        e.fault = restart_ms ? "restart_upload" : names[static_cast<int>(mishap)];
        ctx_->log.add(std::move(e));
        if (restart_ms) // taken whole and dropped: the restart cuts the connection
            return unit_->restart_for(restart_ms);
        if (mishap == unit::mishap::drop)
            return cut();
        if (mishap == unit::mishap::close) {
            ws_.async_close(websocket::close_code::normal, [self = shared_from_this()](beast::error_code) {});
            return;
        }
        reply_ = "data:" + std::to_string(number) + ",500,";
        write_reply();
    }

    void on_read(beast::error_code ec, std::size_t)
    {
        if (ec)
            return;
        std::string message = beast::buffers_to_string(buffer_.data());
        if (stalled_) { // a stalled unit reads on but never answers again
            ctx_->log.add(entry("WS", "?", std::move(message), 0));
            return read();
        }
        int stall_ms = 0;
        const unit::mishap mishap = unit_->draw_mishap(stall_ms);
        if (mishap != unit::mishap::none || unit_->fault_number("restart_upload") ||
            unit_->fault_number("restart_upload_once")) {
            auto [number, name] = envelope_head(message);
            const int restart_ms = carries_upload(name) ? unit_->take_fault_ms("restart_upload") : 0;
            if (restart_ms || (mishap != unit::mishap::none && mishap != unit::mishap::stall))
                return undone(mishap, restart_ms, number, std::move(name), std::move(message));
        }
        ws_reply r = answer_ws(*unit_, message, logged_in_, ctx_->wire_check);
        auto e = entry("WS", r.name, std::move(message), r.action == ws_action::reply ? r.status : 0);
        if (mishap == unit::mishap::stall)
            e.fault = "stall";
        note_upload(e, r.upload, *unit_);
        ctx_->log.add(std::move(e));
        switch (r.action) {
        case ws_action::stall:
            stalled_ = true;
            return read();
        case ws_action::close:
            ws_.async_close(websocket::close_code::normal, [self = shared_from_this()](beast::error_code) {});
            return;
        case ws_action::drop:
            return cut();
        case ws_action::reply:
            break;
        }
        reply_ = std::move(r.message);
        if (mishap == unit::mishap::stall) {
            timer_.expires_after(std::chrono::milliseconds(stall_ms));
            timer_.async_wait([self = shared_from_this()](beast::error_code) { self->write_reply(); });
            return;
        }
        write_reply();
    }

    void write_reply()
    {
        ws_.async_write(net::buffer(reply_), [self = shared_from_this()](beast::error_code ec, std::size_t) {
            self->unit_->restart_if_pending(); // a restart goes down once its reply is out
            if (!ec)
                self->read();
        });
    }
};

std::shared_ptr<ssl::context> make_tls(const std::string& where, const unit_config& cfg, const issued_cert& cert)
{
    auto tls = std::make_shared<ssl::context>(ssl::context::tls_server);
    SSL_CTX* native = tls->native_handle();
    const bool old_protocol = cfg.tls_max != 0 && cfg.tls_max < TLS1_2_VERSION;
    SSL_CTX_set_min_proto_version(native, old_protocol ? TLS1_VERSION : TLS1_2_VERSION);
    if (cfg.tls_max != 0)
        SSL_CTX_set_max_proto_version(native, cfg.tls_max);
    // OpenSSL refuses small keys, SHA-1 and TLS below 1.2 at its default
    // level; only the units that stand for older ones get level 0.
    if (old_protocol || cfg.cert == cert_kind::legacy)
        SSL_CTX_set_security_level(native, 0);
    const auto* c = reinterpret_cast<const unsigned char*>(cert.cert_der.data());
    const auto* k = reinterpret_cast<const unsigned char*>(cert.key_der.data());
    EVP_PKEY* key = d2i_AutoPrivateKey(nullptr, &k, static_cast<long>(cert.key_der.size()));
    bool ok = SSL_CTX_use_certificate_ASN1(native, static_cast<int>(cert.cert_der.size()), c) == 1 && key &&
              SSL_CTX_use_PrivateKey(native, key) == 1;
    EVP_PKEY_free(key);
    if (!ok)
        throw std::runtime_error(where + ": cannot load its TLS certificate");
    return tls;
}

} // namespace

void listen_wss(net::io_context& ioc, std::shared_ptr<unit> u, std::shared_ptr<shared_ctx> ctx)
{
    std::string where = "unit \"" + u->cfg.name + "\"";
    // Rebuilt when a restart has changed the certificate; the acceptor's
    // strand serialises the callbacks that touch it.
    struct served_tls {
        std::uint64_t generation = 0;
        std::shared_ptr<ssl::context> tls;
    };
    auto served = std::make_shared<served_tls>();
    std::tie(served->generation, std::ignore) = u->served_cert();
    served->tls = make_tls(where, u->cfg, u->served_cert().second);
    start_acceptor(ioc, where, u->cfg.address, 443, [u, ctx, served, where](tcp::socket s) {
        if (u->down() || u->link_refuses())
            return; // restarting or link down: the connection is closed at once
        auto [generation, cert] = u->served_cert();
        if (generation != served->generation) {
            try {
                served->tls = make_tls(where, u->cfg, cert);
            } catch (const std::exception&) {
                // keeps presenting the previous certificate
            }
            served->generation = generation;
        }
        std::make_shared<wss_session>(std::move(s), served->tls, u, ctx)->start();
    });
}

} // namespace talvor::sim
