#if defined(__SANITIZE_ADDRESS__) && defined(__GNUC__) && !defined(__clang__)
// GCC 12 with the sanitizers misreads Beast's optional body limit.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>


#include <algorithm>
#include <cstdio>
#include <deque>
#include <limits>
#include <mutex>
#include <optional>
#include <random>
#include <vector>

#include "transport/conn_sess.h"
#include "transport/conn_sess_impl.h"
#include "transport/io_step.h"
#include "transport/socket_calls.h"
#include "transport/unit_connect.h"

namespace asio = boost::asio;
namespace http = boost::beast::http;
using boost::system::error_code;
using tcp = asio::ip::tcp;

namespace talvor {

struct http_link {
    asio::io_context loop{1};
    tcp::socket socket{loop};
    boost::beast::flat_buffer buffer; // bytes read past the last parsed reply
    bool reused = false;
};

namespace {

constexpr std::size_t step_bytes = 1024; // body reads
// Body writes: one system call per 1024-byte step held uploads to a third
// of the wire's speed; pieces this large still move the progress value
// often and let a cancellation in between.
constexpr std::size_t piece_bytes = 64 * 1024;
constexpr std::size_t piece_buffers = 16;
// Set-Cookie tokens may be long; only a runaway header block is refused.
constexpr std::size_t header_limit = 4u << 20;

std::string next_boundary()
{
    static std::mutex lock;
    static std::optional<std::mt19937_64> engine;
    std::uint64_t r;
    {
        std::lock_guard g(lock);
        if (!engine) {
            const auto ticks = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now().time_since_epoch());
            engine.emplace(static_cast<std::uint64_t>(ticks.count()));
        }
        r = (*engine)();
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(r));
    return std::string("--------") + hex;
}

// Bytes that would break the request line (or let a unit-supplied cookie
// inject headers) travel percent-encoded.
std::string wire_path(std::string_view path)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7f) {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string header_safe(std::string_view text)
{
    std::string out;
    for (const char ch : text)
        if (static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7f)
            out += ch;
    return out;
}

void close_quietly(tcp::socket& s)
{
    error_code ignored;
    s.close(ignored);
}

// A kept-open connection the unit has closed (or sent something unasked on)
// cannot carry a request; it is found out before any request byte is sent.
bool still_usable(http_link& link)
{
    if (!link.socket.is_open() || link.buffer.size() != 0)
        return false;
    error_code ec;
    link.socket.non_blocking(true, ec);
    if (ec)
        return false;
    char probe;
    link.socket.receive(asio::buffer(&probe, 1), tcp::socket::message_peek, ec);
    return ec == asio::error::would_block || ec == asio::error::try_again;
}

// Drops the first `n` bytes of a gather list.
void consume(std::vector<asio::const_buffer>& parts, std::size_t n)
{
    std::size_t whole = 0;
    while (whole < parts.size() && n >= parts[whole].size()) {
        n -= parts[whole].size();
        ++whole;
    }
    parts.erase(parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(whole));
    if (!parts.empty())
        parts.front() += n;
}

bool never_reached_unit(const error_code& ec)
{
    return ec == asio::error::broken_pipe || ec == asio::error::connection_reset ||
           ec == asio::error::not_connected || ec == asio::error::eof;
}

} // namespace

struct http_exchange::impl {
    conn_sess::impl& session;
    bool post = false;
    std::string path;
    std::vector<std::span<const std::uint8_t>> body; // in order
    std::deque<byte_vector> copies;                  // what copied segments point into
    std::string head, separator, tail;

    std::shared_ptr<http_link> link;
    std::optional<http::response_parser<http::buffer_body>> parser;
    bool ran = false;
    bool broken = false; // the link may not carry another request

    explicit impl(conn_sess::impl& s) : session(s) {}

    ~impl() { release_link(); }

    step_end step(std::chrono::milliseconds limit, const bool& finished, const std::function<void()>& start)
    {
        auto& l = *link;
        return run_step(l.loop, session, limit, start, finished, [&l] { close_quietly(l.socket); });
    }

    int connect_new()
    {
        link = std::make_shared<http_link>();
        session.count_link_opened();
        if (const int r = connect_unit(link->loop, session, link->socket, 80); r != tcode::ok)
            return r;
        error_code ec;
        // Writes try the socket first and never block in it (see write()).
        link->socket.non_blocking(true, ec);
        return ec ? tcode::send_error : tcode::ok;
    }

    // 0, or the failing code; `maybe_unsent` tells whether nothing reached
    // the unit, so that another connection may carry the request.
    int write(std::vector<asio::const_buffer> parts, int error_code_for, bool* maybe_unsent)
    {
        if (session.cancel.load())
            return tcode::cancelled;
        // While the socket has room a step cannot block: write it straight
        // away and keep the event loop for the steps that must wait.
        error_code ec;
        const std::size_t size = asio::buffer_size(parts);
        std::size_t written = link->socket.write_some(parts, ec);
        if (!ec && written == size)
            return tcode::ok;
        if (ec && ec != asio::error::would_block && ec != asio::error::try_again) {
            if (maybe_unsent)
                *maybe_unsent = written == 0 && never_reached_unit(ec);
            return error_code_for;
        }
        consume(parts, written);
        const std::size_t already = written;
        bool finished = false;
        ec = {};
        const auto end = step(session.timeouts.send, finished, [&] {
            asio::async_write(link->socket, parts, [&](error_code e, std::size_t n) {
                ec = e;
                written = n;
                finished = true;
            });
        });
        if (end == step_end::cancelled)
            return tcode::cancelled;
        if (end == step_end::timed_out || ec) {
            if (maybe_unsent)
                *maybe_unsent = end == step_end::done && already + written == 0 && never_reached_unit(ec);
            return error_code_for;
        }
        return tcode::ok;
    }

    int send_head(const std::string& text)
    {
        link = session.take_idle_link();
        if (link && still_usable(*link)) {
            link->reused = true;
            bool unsent = false;
            const int r = write({asio::buffer(text)}, tcode::send_error, &unsent);
            if (r != tcode::send_error || !unsent)
                return r;
        }
        if (link)
            close_quietly(link->socket);
        if (const int r = connect_new(); r != tcode::ok)
            return r;
        return write({asio::buffer(text)}, tcode::send_error, nullptr);
    }

    int read_head()
    {
        parser.emplace();
        parser->header_limit(static_cast<std::uint32_t>(header_limit));
        parser->body_limit(std::numeric_limits<std::uint64_t>::max());
        bool finished = false;
        error_code ec;
        const auto end = step(session.timeouts.receive, finished, [&] {
            http::async_read_header(link->socket, link->buffer, *parser, [&](error_code e, std::size_t) {
                ec = e;
                finished = true;
            });
        });
        if (end == step_end::cancelled)
            return tcode::cancelled;
        if (end == step_end::timed_out || ec)
            return tcode::receive_error;
        return tcode::ok;
    }

    int run(const progress_range& progress, conn_sess& owner)
    {
        std::size_t n = 0;
        for (const auto& segment : body)
            n += segment.size();
        std::string text = std::string(post ? "POST " : "GET ") + wire_path(path) + " HTTP/1.1\r\nHost: " +
                           header_safe(session.host) + "\r\nUser-Agent: " + header_safe(session.user_agent) +
                           "\r\n";
        if (post || n != 0)
            text += "Content-Length: " + std::to_string(n) + "\r\n";
        text += "\r\n";

        if (const int r = send_head(text); r != tcode::ok)
            return r;
        if (n == 0)
            progress.set_raw(progress.high);
        // Corking lets the kernel send full segments across pieces.
        if (n > piece_bytes)
            socket_cork(static_cast<os_socket>(link->socket.native_handle()), true);
        std::size_t segment = 0, offset = 0; // where the next piece starts
        std::vector<asio::const_buffer> parts;
        for (std::size_t done = 0; done < n;) {
            progress.report(static_cast<double>(done) / static_cast<double>(n));
            parts.clear();
            std::size_t size = 0;
            while (segment < body.size() && size < piece_bytes && parts.size() < piece_buffers) {
                const auto& s = body[segment];
                const std::size_t take = std::min(s.size() - offset, piece_bytes - size);
                if (take != 0)
                    parts.emplace_back(s.data() + offset, take);
                size += take;
                offset += take;
                if (offset == s.size()) {
                    ++segment;
                    offset = 0;
                }
            }
            if (const int r = write(parts, tcode::write_error, nullptr); r != tcode::ok)
                return r;
            done += size;
            if (done == n)
                progress.report(1.0);
        }
        if (n > piece_bytes)
            socket_cork(static_cast<os_socket>(link->socket.native_handle()), false);
        body.clear();
        copies.clear();

        if (const int r = read_head(); r != tcode::ok)
            return r;
        const unsigned status = parser->get().result_int();
        if (status != 200)
            return tcode::status_not_ok;
        const auto cookies = parser->get().equal_range(http::field::set_cookie);
        for (auto it = cookies.first; it != cookies.second; ++it)
            owner.store_set_cookie(std::string_view(it->value().data(), it->value().size()));
        return tcode::ok;
    }

    // One read of at most `max` body bytes into `into`; the count, or -1.
    long read_step(std::uint8_t* into, std::size_t max)
    {
        auto& b = parser->get().body();
        b.data = into;
        b.size = max;
        b.more = true;
        bool finished = false;
        error_code ec;
        const auto end = step(session.timeouts.receive, finished, [&] {
            http::async_read_some(link->socket, link->buffer, *parser, [&](error_code e, std::size_t) {
                ec = e;
                finished = true;
            });
        });
        if (ec == http::error::need_buffer)
            ec = {};
        if (end != step_end::done || ec)
            return -1;
        return static_cast<long>(max - b.size);
    }

    // A reply without a body has given its connection back already.
    bool readable() const { return ran && !broken && parser && parser->is_header_done() && (link || parser->is_done()); }

    // A connection goes back to the session only once its reply was read
    // to the end; anything else would leave stray bytes for the next one.
    void release_link()
    {
        if (!link)
            return;
        if (!broken && parser && parser->is_done() && parser->keep_alive() && link->buffer.size() == 0 &&
            link->socket.is_open()) {
            session.keep_idle_link(std::move(link));
        } else {
            close_quietly(link->socket);
        }
        link.reset();
    }
};

http_exchange::http_exchange(std::shared_ptr<conn_sess> session, bool post, std::string path)
    : session_(std::move(session)), impl_(std::make_unique<impl>(session_->internals()))
{
    impl_->post = post;
    if (post) {
        if (auto csrf = session_->cookie("csrf"))
            path += "?" + *csrf;
    }
    impl_->path = std::move(path);
    const std::string b = next_boundary();
    impl_->head = b + "\r\n\r\n";
    impl_->separator = "\r\n" + b + "\r\n\r\n";
    impl_->tail = "\r\n" + b + "--\r\n";
}

http_exchange::~http_exchange() = default;

const std::string& http_exchange::path() const { return impl_->path; }
const std::string& http_exchange::multipart_head() const { return impl_->head; }
const std::string& http_exchange::multipart_separator() const { return impl_->separator; }
const std::string& http_exchange::multipart_tail() const { return impl_->tail; }

void http_exchange::add_segment(std::span<const std::uint8_t> bytes)
{
    impl_->copies.emplace_back(bytes.begin(), bytes.end());
    impl_->body.emplace_back(impl_->copies.back());
}

void http_exchange::add_segment(std::string_view text)
{
    add_segment(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void http_exchange::add_segment_in_place(std::span<const std::uint8_t> bytes)
{
    impl_->body.push_back(bytes);
}

int http_exchange::run(const progress_range& progress)
{
    if (impl_->ran)
        return tcode::no_request - 1000;
    impl_->ran = true;
    const int r = impl_->run(progress, *session_);
    if (r != tcode::ok && r != tcode::status_not_ok)
        impl_->broken = true;
    if (impl_->broken || (impl_->parser && impl_->parser->is_done()))
        impl_->release_link();
    if (r == tcode::ok)
        return 200;
    if (r == tcode::status_not_ok)
        return static_cast<int>(impl_->parser->get().result_int());
    return r - 1000;
}

int http_exchange::read_body(byte_vector& out, std::size_t limit)
{
    out.clear();
    if (!impl_->readable())
        return -1;
    // An announced length that cannot fit fails without reading it all.
    if (const auto announced = impl_->parser->content_length(); announced && *announced >= limit) {
        impl_->broken = true;
        impl_->release_link();
        return -1;
    }
    std::size_t total = 0;
    for (;;) {
        // Reaching the limit fails even when the body would end right there.
        if (total >= limit) {
            impl_->broken = !impl_->parser->is_done();
            break;
        }
        if (impl_->parser->is_done()) {
            out.resize(total);
            impl_->release_link();
            return 0;
        }
        const std::size_t step = std::min(step_bytes, limit - total);
        out.resize(total + step);
        const long got = impl_->read_step(out.data() + total, step);
        if (got < 0) {
            impl_->broken = true;
            break;
        }
        total += static_cast<std::size_t>(got);
    }
    out.clear();
    impl_->release_link();
    return -1;
}

int http_exchange::read_once(byte_vector& out, std::size_t max)
{
    out.clear();
    if (!impl_->readable())
        return -1;
    out.resize(max);
    long got = 0;
    // Framing bytes (a chunk header) may come without body bytes: keep on
    // until some body arrives or it ends.
    while (got == 0 && max != 0 && !impl_->parser->is_done()) {
        got = impl_->read_step(out.data(), max);
        if (got < 0) {
            impl_->broken = true;
            out.clear();
            impl_->release_link();
            return -1;
        }
    }
    out.resize(static_cast<std::size_t>(got));
    if (impl_->parser->is_done())
        impl_->release_link();
    return 0;
}

} // namespace talvor
