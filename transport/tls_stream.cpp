#include "transport/tls_stream.h"

#include <openssl/bio.h>
#include <openssl/err.h>

#include <boost/asio/error.hpp>
#include <boost/asio/ssl/error.hpp>

#include <cerrno>
#include <cstdint>

#include "transport/socket_calls.h"

namespace talvor {

namespace {

// The socket behind a BIO of the method below.
os_socket socket_of(BIO* bio) { return reinterpret_cast<os_socket>(BIO_get_data(bio)); }

int socket_write(BIO* bio, const char* data, int size)
{
    BIO_clear_retry_flags(bio);
    bool retry = false;
    const long n = socket_send(socket_of(bio), data, static_cast<std::size_t>(size), retry);
    if (n < 0) {
        if (retry)
            BIO_set_retry_write(bio);
        return -1;
    }
    return static_cast<int>(n);
}

int socket_read(BIO* bio, char* out, int size)
{
    BIO_clear_retry_flags(bio);
    bool retry = false;
    const long n = socket_receive(socket_of(bio), out, static_cast<std::size_t>(size), retry);
    if (n < 0) {
        if (retry)
            BIO_set_retry_read(bio);
        return -1;
    }
    return static_cast<int>(n);
}

long socket_ctrl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

int socket_create(BIO* bio)
{
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD* socket_method()
{
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "unit socket");
        if (m) {
            BIO_meth_set_write(m, socket_write);
            BIO_meth_set_read(m, socket_read);
            BIO_meth_set_ctrl(m, socket_ctrl);
            BIO_meth_set_create(m, socket_create);
        }
        return m;
    }();
    return method;
}

} // namespace

tls_stream::tls_stream(boost::asio::io_context& loop, SSL_CTX* context) : socket_(loop)
{
    if (context) {
        ssl_ = SSL_new(context);
        SSL_CTX_free(context); // the connection holds its own reference
    }
    if (ssl_)
        SSL_set_mode(ssl_, SSL_MODE_RELEASE_BUFFERS);
}

tls_stream::~tls_stream()
{
    if (ssl_)
        SSL_free(ssl_);
}

bool tls_stream::attach(boost::system::error_code& ec)
{
    BIO* bio = ssl_ && socket_method() ? BIO_new(socket_method()) : nullptr;
    if (!bio) {
        ec = boost::asio::error::no_memory;
        return false;
    }
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<os_socket>(socket_.native_handle())));
    SSL_set_bio(ssl_, bio, bio);
    SSL_set_connect_state(ssl_);
    attached_ = true;
    return true;
}

tls_stream::next tls_stream::after(int result, boost::system::error_code& ec)
{
    const int saved_errno = errno;
    ec = {};
    if (result == 1)
        return next::done;
    const int error = SSL_get_error(ssl_, result);
    switch (error) {
    case SSL_ERROR_WANT_READ:
        return next::wait_read;
    case SSL_ERROR_WANT_WRITE:
        return next::wait_write;
    case SSL_ERROR_ZERO_RETURN:
        ec = boost::asio::error::eof; // the unit sent close_notify
        break;
    case SSL_ERROR_SYSCALL:
        ec = saved_errno ? boost::system::error_code(saved_errno, boost::system::system_category())
                   : boost::system::error_code(boost::asio::ssl::error::stream_truncated);
        break;
    default: {
        const unsigned long e = ERR_get_error();
        if (ERR_GET_REASON(e) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
            ec = boost::asio::ssl::error::stream_truncated;
        else
            ec = boost::system::error_code(static_cast<int>(e ? e : 1), boost::asio::error::get_ssl_category());
        break;
    }
    }
    ERR_clear_error(); // the queue is the thread's: leave it empty for the next unit
    return next::failed;
}

void tls_stream::notify_close()
{
    if (ssl_ && attached_ && SSL_is_init_finished(ssl_))
        SSL_shutdown(ssl_); // one try; a full send buffer just skips it
    ERR_clear_error();
}

} // namespace talvor
