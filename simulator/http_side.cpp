// Port 80: the action protocol of HTTP units, and the redirect (or nothing)
// of WebSocket units.
#include "simulator/acceptor.h"
#include "simulator/http_actions.h"
#include "simulator/listeners.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cstdlib>
#include <optional>

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace talvor::sim {
namespace {

class http_session : public std::enable_shared_from_this<http_session> {
public:
    http_session(tcp::socket socket, std::shared_ptr<unit> u, std::shared_ptr<shared_ctx> ctx)
        : stream_(std::move(socket)), timer_(stream_.get_executor()), unit_(std::move(u)), ctx_(std::move(ctx))
    {
    }

    ~http_session() { unit_->remove_connection(connection_); }

    void start()
    {
        connection_ = unit_->add_connection([weak = weak_from_this()] {
            if (auto self = weak.lock())
                net::post(self->stream_.get_executor(), [self] { self->close(); });
        });
        read_header();
    }

private:
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_{1u << 16};
    net::steady_timer timer_;
    std::shared_ptr<unit> unit_;
    std::shared_ptr<shared_ctx> ctx_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::string op_;
    http::response<http::string_body> res_;
    std::string raw_;
    std::array<char, 4096> scratch_{};
    std::uint64_t connection_ = 0;
    unit::mishap mishap_ = unit::mishap::none;
    int stall_ms_ = 0;
    int restart_ms_ = 0; // restart_upload: down time once half the body is in
    std::string fault_;  // logged with the request

    static bool is_upload(std::string_view op)
    {
        return op == "fw_net_file.action" || op == "fw_sys_file.action" || op == "config_set.action" ||
               op == "customise_file.action";
    }

    static const char* mishap_name(unit::mishap m)
    {
        switch (m) {
        case unit::mishap::drop: return "drop";
        case unit::mishap::stall: return "stall";
        case unit::mishap::status_500: return "500";
        case unit::mishap::close: return "close";
        case unit::mishap::none: break;
        }
        return "";
    }

    void read_header()
    {
        parser_.emplace();
        parser_->body_limit(body_limit);
        http::async_read_header(stream_, buffer_, *parser_,
                                beast::bind_front_handler(&http_session::on_header, shared_from_this()));
    }

    void on_header(beast::error_code ec, std::size_t)
    {
        if (ec)
            return close();
        std::string target(parser_->get().target());
        op_ = operation_of(target);
        mishap_ = unit_->draw_mishap(stall_ms_);
        fault_ = mishap_name(mishap_);
        restart_ms_ = 0;
        if (unit_->fault("stall_header", op_)) {
            log(0);
            return stall();
        }
        if (parser_->get().method() == http::verb::post && is_upload(op_))
            if (const int ms = unit_->take_fault_ms("restart_upload")) {
                restart_ms_ = ms;
                fault_ = "restart_upload";
                return read_part();
            }
        if (unit_->fault("drop_request_body", op_) || mishap_ == unit::mishap::drop)
            return read_part();
        if (unit_->fault_number("slow_upload") > 0 && parser_->get().method() == http::verb::post)
            return read_slowly();
        http::async_read(stream_, buffer_, *parser_,
                         beast::bind_front_handler(&http_session::on_body, shared_from_this()));
    }

    // Reads about half of the announced body, then hangs up.
    void read_part()
    {
        // From the header text: boost::optional trips -Wmaybe-uninitialized here.
        auto field = parser_->get()[http::field::content_length];
        auto length = std::strtoull(std::string(field).c_str(), nullptr, 10);
        if (parser_->is_done() || parser_->get().body().size() * 2 >= length) {
            log(0);
            if (restart_ms_)
                unit_->restart_for(restart_ms_);
            return close();
        }
        http::async_read_some(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec)
                return self->close();
            self->read_part();
        });
    }

    void read_slowly()
    {
        if (parser_->is_done())
            return on_body({}, 0);
        http::async_read_some(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec)
                return self->close();
            self->timer_.expires_after(std::chrono::milliseconds(self->unit_->fault_number("slow_upload")));
            self->timer_.async_wait([self](beast::error_code) { self->read_slowly(); });
        });
    }

    void on_body(beast::error_code ec, std::size_t)
    {
        if (ec)
            return close();
        auto& req = parser_->get();
        if (mishap_ == unit::mishap::close) {
            log(0);
            return close();
        }
        // A 500 of the random mode leaves the request undone, so the unit's
        // record tells what really happened.
        http_reply reply;
        if (mishap_ == unit::mishap::status_500)
            reply.status = 500;
        else
            reply = answer_http(*unit_, std::string(req.method_string()), std::string(req.target()), req.body());
        if (reply.action == reply_action::stall) {
            log(0);
            return stall();
        }
        if (reply.action == reply_action::drop_body) {
            // Announce the whole body, send half of it, hang up.
            raw_ = "HTTP/1.1 " + std::to_string(reply.status) + " OK\r\nContent-Length: " +
                   std::to_string(reply.body.size()) + "\r\n\r\n" + reply.body.substr(0, reply.body.size() / 2);
            log(reply.status);
            net::async_write(stream_, net::buffer(raw_),
                             [self = shared_from_this()](beast::error_code, std::size_t) { self->close(); });
            return;
        }
        res_ = {};
        res_.version(req.version());
        // Beast refuses status codes outside 100..999; a fault table may hold anything.
        res_.result(reply.status >= 100 && reply.status <= 999 ? static_cast<unsigned>(reply.status) : 500u);
        if (!reply.content_type.empty())
            res_.set(http::field::content_type, reply.content_type);
        if (!reply.location.empty())
            res_.set(http::field::location, reply.location);
        for (auto& cookie : reply.cookies)
            res_.insert(http::field::set_cookie, cookie);
        res_.body() = std::move(reply.body);
        res_.keep_alive(req.keep_alive());
        res_.prepare_payload();
        log(reply.status, &reply.upload);
        if (mishap_ == unit::mishap::stall) {
            timer_.expires_after(std::chrono::milliseconds(stall_ms_));
            timer_.async_wait([self = shared_from_this()](beast::error_code) { self->write(); });
            return;
        }
        write();
    }

    void write()
    {
        http::async_write(stream_, res_, beast::bind_front_handler(&http_session::on_written, shared_from_this()));
    }

    void on_written(beast::error_code ec, std::size_t)
    {
        unit_->restart_if_pending(); // a restart goes down once its reply is out
        if (ec || !res_.keep_alive())
            return close();
        read_header();
    }

    void log(int status, const upload_summary* upload = nullptr)
    {
        auto& req = parser_->get();
        request_entry e;
        e.unit = unit_->cfg.name;
        e.address = unit_->cfg.address;
        e.time_ms = request_log::now_ms();
        e.method = std::string(req.method_string());
        e.target = std::string(req.target());
        for (auto& field : req)
            e.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
        e.body = req.body();
        e.status = status;
        e.fault = fault_;
        if (upload)
            note_upload(e, *upload, *unit_);
        ctx_->log.add(std::move(e));
    }

    // Never answers; keeps reading (and dropping) until the client gives up.
    void stall()
    {
        stream_.async_read_some(net::buffer(scratch_), [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (!ec)
                self->stall();
        });
    }

    void close()
    {
        beast::error_code ec;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
        stream_.socket().close(ec);
    }
};

} // namespace

void listen_http(net::io_context& ioc, std::shared_ptr<unit> u, std::shared_ptr<shared_ctx> ctx)
{
    std::string where = "unit \"" + u->cfg.name + "\"";
    start_acceptor(ioc, where, u->cfg.address, 80, [u, ctx](tcp::socket s) {
        if (u->down() || u->link_refuses())
            return; // restarting or link down: the connection is closed at once
        std::make_shared<http_session>(std::move(s), u, ctx)->start();
    });
}

} // namespace talvor::sim
