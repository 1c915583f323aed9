#pragma once
// A TLS client stream straight over the unit's TCP socket, under the
// WebSocket. asio's ssl::stream keeps two 17 KiB buffers and a 34 KiB
// OpenSSL BIO pair per connection, whether it moves data or not; with a
// thousand units connected that was half of their memory, and every byte
// was copied twice more on its way. Here OpenSSL reads and writes the
// socket itself without blocking, and an operation that would block waits
// for the socket on the loop. Private to transport's .cpp files.
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <boost/asio/buffer.hpp>
#include <boost/asio/compose.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/role.hpp>
#include <boost/beast/websocket/teardown.hpp>

#include <cstddef>
#include <utility>

namespace talvor {

class tls_stream {
public:
    using socket_type = boost::asio::ip::tcp::socket;
    using executor_type = socket_type::executor_type;
    using next_layer_type = socket_type;

    // Takes over one reference of `context`.
    tls_stream(boost::asio::io_context& loop, SSL_CTX* context);
    ~tls_stream();
    tls_stream(const tls_stream&) = delete;
    tls_stream& operator=(const tls_stream&) = delete;

    // Null when OpenSSL could not make the connection object.
    SSL* native_handle() const { return ssl_; }
    socket_type& next_layer() { return socket_; }
    executor_type get_executor() { return socket_.get_executor(); }

    // Client handshake on the connected socket.
    template <class Handler>
    auto async_handshake(Handler&& handler)
    {
        return start([](SSL* ssl, std::size_t& n) {
            n = 0;
            return SSL_do_handshake(ssl);
        }, std::forward<Handler>(handler), true);
    }

    template <class Buffers, class Handler>
    auto async_read_some(const Buffers& buffers, Handler&& handler)
    {
        const boost::asio::mutable_buffer b = first_of<boost::asio::mutable_buffer>(buffers);
        return start([b](SSL* ssl, std::size_t& n) { return b.size() ? SSL_read_ex(ssl, b.data(), b.size(), &n) : 1; },
                     std::forward<Handler>(handler), false);
    }

    // Writes all of the first non-empty buffer before it completes.
    template <class Buffers, class Handler>
    auto async_write_some(const Buffers& buffers, Handler&& handler)
    {
        const boost::asio::const_buffer b = first_of<boost::asio::const_buffer>(buffers);
        return start([b](SSL* ssl, std::size_t& n) { return b.size() ? SSL_write_ex(ssl, b.data(), b.size(), &n) : 1; },
                     std::forward<Handler>(handler), false);
    }

    // Sends close_notify once, not waiting for the unit's.
    void notify_close();

private:
    template <class Buffer, class Buffers>
    static Buffer first_of(const Buffers& buffers)
    {
        for (auto it = boost::asio::buffer_sequence_begin(buffers); it != boost::asio::buffer_sequence_end(buffers);
             ++it) {
            Buffer b(*it);
            if (b.size() != 0)
                return b;
        }
        return Buffer();
    }

    // What an OpenSSL result asks for next.
    enum class next { done, wait_read, wait_write, failed };
    next after(int result, boost::system::error_code& ec);
    bool attach(boost::system::error_code& ec);

    template <class Step>
    struct op {
        tls_stream& s;
        Step step;
        bool handshake;
        bool started = false;

        template <class Self>
        void operator()(Self& self, boost::system::error_code ec = {})
        {
            if (!started) {
                // Never complete inside the initiating call.
                started = true;
                return boost::asio::post(s.get_executor(), std::move(self));
            }
            if (!ec && handshake && !s.attached_)
                s.attach(ec);
            if (ec)
                return self.complete(ec, 0);
            std::size_t n = 0;
            ERR_clear_error(); // SSL_get_error reads the thread's queue
            const int r = step(s.ssl_, n);
            switch (s.after(r, ec)) {
            case next::done:
                return self.complete(ec, n);
            case next::wait_read:
                return s.socket_.async_wait(socket_type::wait_read, std::move(self));
            case next::wait_write:
                return s.socket_.async_wait(socket_type::wait_write, std::move(self));
            case next::failed:
                return self.complete(ec, 0);
            }
        }
    };

    template <class Step, class Handler>
    auto start(Step step, Handler&& handler, bool handshake)
    {
        return boost::asio::async_compose<Handler, void(boost::system::error_code, std::size_t)>(
            op<Step>{*this, step, handshake}, handler, socket_);
    }

    socket_type socket_;
    SSL* ssl_ = nullptr;
    bool attached_ = false;
};

// The WebSocket's closing handshake ends here: close_notify, then the TCP
// teardown. Found by argument-dependent lookup.
template <class Handler>
void async_teardown(boost::beast::role_type role, tls_stream& stream, Handler&& handler)
{
    stream.notify_close();
    boost::beast::websocket::async_teardown(role, stream.next_layer(), std::forward<Handler>(handler));
}

inline void teardown(boost::beast::role_type role, tls_stream& stream, boost::system::error_code& ec)
{
    stream.notify_close();
    boost::beast::websocket::teardown(role, stream.next_layer(), ec);
}

} // namespace talvor
