#include "tls_unit.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <chrono>
#include <stdexcept>
#include <vector>

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

namespace talvor::test {

namespace {

using pkey_ptr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using x509_ptr = std::unique_ptr<X509, decltype(&X509_free)>;

pkey_ptr new_key() { return pkey_ptr(EVP_EC_gen("P-256"), EVP_PKEY_free); }

void add_ext(X509* cert, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        throw std::runtime_error("bad extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

x509_ptr new_cert(const char* cn, EVP_PKEY* key, long from_days, long to_days, long serial)
{
    x509_ptr cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), from_days * 86400L);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), to_days * 86400L);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    return cert;
}

byte_vector der_of(X509* cert)
{
    byte_vector out(static_cast<std::size_t>(i2d_X509(cert, nullptr)));
    unsigned char* p = out.data();
    i2d_X509(cert, &p);
    return out;
}

std::string pem_of(X509* cert)
{
    BIO* b = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(b, cert);
    char* data;
    const long n = BIO_get_mem_data(b, &data);
    std::string s(data, static_cast<std::size_t>(n));
    BIO_free(b);
    return s;
}

std::string pem_of(EVP_PKEY* key)
{
    BIO* b = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(b, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data;
    const long n = BIO_get_mem_data(b, &data);
    std::string s(data, static_cast<std::size_t>(n));
    BIO_free(b);
    return s;
}

} // namespace

struct test_authority::keys {
    pkey_ptr key{nullptr, EVP_PKEY_free};
    x509_ptr cert{nullptr, X509_free};
};

test_authority::test_authority(const char* name) : k_(std::make_unique<keys>())
{
    k_->key = new_key();
    k_->cert = new_cert(name, k_->key.get(), -10, 3650, 1);
    X509_set_issuer_name(k_->cert.get(), X509_get_subject_name(k_->cert.get()));
    add_ext(k_->cert.get(), k_->cert.get(), NID_basic_constraints, "critical,CA:TRUE");
    add_ext(k_->cert.get(), k_->cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    add_ext(k_->cert.get(), k_->cert.get(), NID_subject_key_identifier, "hash");
    X509_sign(k_->cert.get(), k_->key.get(), EVP_sha256());
    der_ = der_of(k_->cert.get());
}

test_authority::~test_authority() = default;

issued test_authority::issue(const cert_options& o) const
{
    static std::atomic<long> serial{100};
    pkey_ptr key = new_key();
    x509_ptr cert = new_cert("unit", key.get(), o.valid_from_days, o.valid_to_days, serial++);
    X509* issuer = o.self_signed ? cert.get() : k_->cert.get();
    EVP_PKEY* signer = o.self_signed ? key.get() : k_->key.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(issuer));
    add_ext(cert.get(), issuer, NID_subject_alt_name, ("IP:" + o.ip).c_str());
    add_ext(cert.get(), issuer, NID_ext_key_usage, o.server_usage ? "serverAuth" : "clientAuth");
    X509_sign(cert.get(), signer, EVP_sha256());
    if (o.bad_signature) {
        // Flip a bit of the signature: the chain checks out, the signature not.
        const ASN1_BIT_STRING* sig;
        X509_get0_signature(&sig, nullptr, cert.get());
        const_cast<unsigned char*>(ASN1_STRING_get0_data(sig))[10] ^= 1;
    }
    return issued{pem_of(cert.get()), pem_of(key.get()), der_of(cert.get())};
}

struct wss_unit::impl {
    asio::io_context loop{1};
    asio::ssl::context tls{asio::ssl::context::tls_server};
    tcp::acceptor acceptor{loop};
    unit_mode mode;
    mutable std::mutex lock;
    std::string agent;
};

namespace {

asio::awaitable<void> serve(tcp::socket socket, wss_unit::impl& u, std::atomic<int>& upgrades)
{
    try {
        beast::websocket::stream<asio::ssl::stream<tcp::socket>> ws(std::move(socket), u.tls);
        co_await ws.next_layer().async_handshake(asio::ssl::stream_base::server, asio::use_awaitable);
        beast::flat_buffer buffer;
        beast::http::request<beast::http::string_body> req;
        co_await beast::http::async_read(ws.next_layer(), buffer, req, asio::use_awaitable);
        {
            std::lock_guard g(u.lock);
            u.agent = std::string(req[beast::http::field::user_agent]);
        }
        if (u.mode == unit_mode::decline_upgrade) {
            beast::http::response<beast::http::string_body> res{beast::http::status::forbidden, 11};
            res.prepare_payload();
            co_await beast::http::async_write(ws.next_layer(), res, asio::use_awaitable);
            co_return;
        }
        ws.read_message_max(64u << 20);
        co_await ws.async_accept(req, asio::use_awaitable);
        ++upgrades;
        if (u.mode == unit_mode::no_reads) {
            asio::steady_timer forever(u.loop, std::chrono::hours(1));
            co_await forever.async_wait(asio::use_awaitable);
        }
        while (u.mode == unit_mode::slow_reader) {
            std::size_t total = 0;
            std::vector<char> chunk(16 * 1024);
            asio::steady_timer pause(u.loop);
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
        for (;;) {
            beast::flat_buffer message;
            co_await ws.async_read(message, asio::use_awaitable);
            if (u.mode == unit_mode::silent)
                continue;
            if (u.mode == unit_mode::close_on_message) {
                co_await ws.async_close(beast::websocket::close_code::normal, asio::use_awaitable);
                co_return;
            }
            ws.binary(true);
            co_await ws.async_write(message.data(), asio::use_awaitable);
        }
    } catch (const std::exception&) {
    }
}

asio::awaitable<void> accept_all(wss_unit::impl& u, std::atomic<int>& upgrades)
{
    for (;;) {
        tcp::socket s = co_await u.acceptor.async_accept(asio::use_awaitable);
        asio::co_spawn(u.loop, serve(std::move(s), u, upgrades), asio::detached);
    }
}

} // namespace

wss_unit::wss_unit(const std::string& ipv4, const issued& cert, unit_mode mode) : impl_(std::make_unique<impl>())
{
    impl_->mode = mode;
    impl_->tls.use_certificate_chain(asio::buffer(cert.cert_pem));
    impl_->tls.use_private_key(asio::buffer(cert.key_pem), asio::ssl::context::pem);
    const tcp::endpoint at(asio::ip::make_address(ipv4), 443);
    impl_->acceptor.open(at.protocol());
    impl_->acceptor.set_option(tcp::acceptor::reuse_address(true));
    if (mode == unit_mode::slow_reader) // little room in the kernel for what is not read yet
        impl_->acceptor.set_option(asio::socket_base::receive_buffer_size(256 * 1024));
    impl_->acceptor.bind(at);
    impl_->acceptor.listen();
    asio::co_spawn(impl_->loop, accept_all(*impl_, upgrades_), [](std::exception_ptr) {});
    thread_ = std::thread([this] { impl_->loop.run(); });
}

wss_unit::~wss_unit()
{
    impl_->loop.stop();
    thread_.join();
}

std::string wss_unit::user_agent() const
{
    std::lock_guard g(impl_->lock);
    return impl_->agent;
}

} // namespace talvor::test
