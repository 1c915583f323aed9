#include "wire_client.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <stdexcept>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace wire {
namespace {

struct fd_guard {
    int fd = -1;
    ~fd_guard()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

bool make_endpoint(const std::string& address, int port, sockaddr_storage& ss, socklen_t& len)
{
    std::memset(&ss, 0, sizeof ss);
    if (address.find(':') != std::string::npos) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(static_cast<uint16_t>(port));
        len = sizeof *a;
        return inet_pton(AF_INET6, address.c_str(), &a->sin6_addr) == 1;
    }
    auto* a = reinterpret_cast<sockaddr_in*>(&ss);
    a->sin_family = AF_INET;
    a->sin_port = htons(static_cast<uint16_t>(port));
    len = sizeof *a;
    return inet_pton(AF_INET, address.c_str(), &a->sin_addr) == 1;
}

void set_timeouts(int fd, int ms)
{
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

int connect_tcp(const std::string& address, int port, int timeout_ms = 5000)
{
    sockaddr_storage ss;
    socklen_t len;
    if (!make_endpoint(address, port, ss, len))
        return -1;
    int fd = ::socket(ss.ss_family, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    set_timeouts(fd, timeout_ms);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool send_all(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads one HTTP response head and its Content-Length body through `read`.
template <class Read>
http_answer read_response(Read read)
{
    http_answer a;
    std::string data;
    char buf[4096];
    std::size_t head_end;
    while ((head_end = data.find("\r\n\r\n")) == std::string::npos) {
        long n = read(buf, sizeof buf);
        if (n <= 0)
            return a;
        data.append(buf, static_cast<std::size_t>(n));
    }
    std::string head = data.substr(0, head_end);
    std::string rest = data.substr(head_end + 4);
    auto line_end = head.find("\r\n");
    std::string status_line = head.substr(0, line_end);
    if (status_line.size() < 12 || status_line.compare(0, 5, "HTTP/") != 0)
        return a;
    int status = std::atoi(status_line.c_str() + 9);
    std::size_t pos = line_end == std::string::npos ? head.size() : line_end + 2;
    while (pos < head.size()) {
        auto end = head.find("\r\n", pos);
        if (end == std::string::npos)
            end = head.size();
        std::string line = head.substr(pos, end - pos);
        auto colon = line.find(':');
        if (colon != std::string::npos) {
            std::string value = line.substr(colon + 1);
            while (!value.empty() && value.front() == ' ')
                value.erase(0, 1);
            a.headers.emplace_back(line.substr(0, colon), value);
        }
        pos = end + 2;
    }
    std::size_t length = std::strtoul(a.header("Content-Length").c_str(), nullptr, 10);
    while (rest.size() < length) {
        long n = read(buf, sizeof buf);
        if (n <= 0)
            return a; // cut short: no answer
        rest.append(buf, static_cast<std::size_t>(n));
    }
    a.status = status;
    a.body = rest.substr(0, length);
    return a;
}

std::string host_of(const std::string& address)
{
    return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

} // namespace

std::string http_answer::header(const std::string& name) const
{
    for (auto& [k, v] : headers)
        if (strcasecmp(k.c_str(), name.c_str()) == 0)
            return v;
    return {};
}

std::vector<std::string> http_answer::all(const std::string& name) const
{
    std::vector<std::string> out;
    for (auto& [k, v] : headers)
        if (strcasecmp(k.c_str(), name.c_str()) == 0)
            out.push_back(v);
    return out;
}

http_answer http(const std::string& address, const std::string& method, const std::string& target,
                 const std::string& body)
{
    fd_guard s{connect_tcp(address, 80)};
    if (s.fd < 0)
        return {};
    std::string req = method + " " + target + " HTTP/1.1\r\nHost: " + host_of(address) +
                      "\r\nUser-Agent: Talvor Manager\r\nContent-Length: " + std::to_string(body.size()) +
                      "\r\n\r\n" + body;
    if (!send_all(s.fd, req))
        return {};
    return read_response([&](char* buf, std::size_t n) { return static_cast<long>(::recv(s.fd, buf, n, 0)); });
}

std::string http_raw(const std::string& address, const std::string& bytes, int timeout_ms)
{
    fd_guard s{connect_tcp(address, 80, timeout_ms)};
    if (s.fd < 0 || !send_all(s.fd, bytes))
        return {};
    std::string out;
    char buf[4096];
    for (;;) {
        ssize_t n = ::recv(s.fd, buf, sizeof buf, 0);
        if (n <= 0)
            return out;
        out.append(buf, static_cast<std::size_t>(n));
    }
}

bool port_open(const std::string& address, int port)
{
    fd_guard s{connect_tcp(address, port, 2000)};
    return s.fd >= 0;
}

std::string multipart(const std::vector<std::string>& parts, const std::string& boundary)
{
    std::string body = boundary + "\r\n\r\n";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            body += "\r\n" + boundary + "\r\n\r\n";
        body += parts[i];
    }
    return body + "\r\n" + boundary + "--\r\n";
}

struct ws_client::tls {
    fd_guard sock;
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    long verify = -1;
    ~tls()
    {
        if (ssl)
            SSL_free(ssl);
        if (ctx)
            SSL_CTX_free(ctx);
    }
    // TLS handshake with verification; false when it did not complete.
    bool open(const std::string& address, const std::string& ca_file)
    {
        sock.fd = connect_tcp(address, 443);
        if (sock.fd < 0)
            return false;
        ctx = SSL_CTX_new(TLS_client_method());
        SSL_CTX_load_verify_locations(ctx, ca_file.c_str(), nullptr);
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
        ssl = SSL_new(ctx);
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), address.c_str());
        SSL_set_fd(ssl, sock.fd);
        int r = SSL_connect(ssl);
        verify = SSL_get_verify_result(ssl);
        ERR_clear_error();
        return r == 1;
    }
    bool write(const std::string& bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            int n = SSL_write(ssl, bytes.data() + done, static_cast<int>(std::min<std::size_t>(bytes.size() - done, 1 << 20)));
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    long read(char* buf, std::size_t n) { return SSL_read(ssl, buf, static_cast<int>(n)); }
    bool read_exact(std::string& out, std::size_t n)
    {
        out.clear();
        char buf[16384];
        while (out.size() < n) {
            long got = read(buf, std::min(sizeof buf, n - out.size()));
            if (got <= 0)
                return false;
            out.append(buf, static_cast<std::size_t>(got));
        }
        return true;
    }
};

ws_client::ws_client(const std::string& address, const std::string& ca_file) : t_(std::make_unique<tls>())
{
    if (!t_->open(address, ca_file))
        throw std::runtime_error("TLS handshake with " + address + " failed: " +
                                 X509_verify_cert_error_string(t_->verify));
    std::string upgrade = "GET / HTTP/1.1\r\nHost: " + host_of(address) +
                          "\r\nUser-Agent: Talvor Manager\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    if (!t_->write(upgrade))
        throw std::runtime_error("upgrade request not sent");
    // Read the head byte by byte so no frame bytes are swallowed.
    std::string head;
    char c;
    while (head.find("\r\n\r\n") == std::string::npos) {
        if (t_->read(&c, 1) != 1)
            throw std::runtime_error("no upgrade answer");
        head.push_back(c);
    }
    if (head.compare(0, 12, "HTTP/1.1 101") != 0)
        throw std::runtime_error("upgrade refused: " + head.substr(0, head.find("\r\n")));
}

ws_client::~ws_client() = default;

void ws_client::send(const std::string& message)
{
    std::string frame;
    frame.push_back(static_cast<char>(0x82)); // final binary frame
    std::size_t n = message.size();
    if (n < 126) {
        frame.push_back(static_cast<char>(0x80 | n));
    } else if (n < 65536) {
        frame.push_back(static_cast<char>(0x80 | 126));
        frame.push_back(static_cast<char>(n >> 8));
        frame.push_back(static_cast<char>(n & 0xFF));
    } else {
        frame.push_back(static_cast<char>(0x80 | 127));
        for (int shift = 56; shift >= 0; shift -= 8)
            frame.push_back(static_cast<char>((n >> shift) & 0xFF));
    }
    const unsigned char mask[4] = {0x12, 0x34, 0x56, 0x78};
    frame.append(reinterpret_cast<const char*>(mask), 4);
    std::size_t at = frame.size();
    frame += message;
    for (std::size_t i = 0; i < n; ++i)
        frame[at + i] = static_cast<char>(frame[at + i] ^ mask[i % 4]);
    if (!t_->write(frame))
        closed_ = true;
}

std::string ws_client::receive()
{
    std::string message;
    for (;;) {
        std::string h;
        if (!t_->read_exact(h, 2)) {
            closed_ = true;
            return {};
        }
        bool fin = (h[0] & 0x80) != 0;
        int opcode = h[0] & 0x0F;
        std::uint64_t len = static_cast<unsigned char>(h[1]) & 0x7F;
        std::string ext;
        if (len == 126 && t_->read_exact(ext, 2))
            len = static_cast<unsigned char>(ext[0]) << 8 | static_cast<unsigned char>(ext[1]);
        else if (len == 127 && t_->read_exact(ext, 8)) {
            len = 0;
            for (char b : ext)
                len = len << 8 | static_cast<unsigned char>(b);
        }
        std::string payload;
        if (!t_->read_exact(payload, static_cast<std::size_t>(len))) {
            closed_ = true;
            return {};
        }
        if (opcode == 8) {
            closed_ = true;
            return {};
        }
        if (opcode == 9 || opcode == 10)
            continue;
        message += payload;
        if (fin)
            return message;
    }
}

void ws_client::set_timeout_ms(int ms)
{
    set_timeouts(t_->sock.fd, ms);
}

std::string ws_client::peer_cert_der() const
{
    X509* cert = SSL_get1_peer_certificate(t_->ssl);
    if (!cert)
        return {};
    unsigned char* buf = nullptr;
    int n = i2d_X509(cert, &buf);
    std::string out(reinterpret_cast<char*>(buf), n > 0 ? static_cast<std::size_t>(n) : 0);
    OPENSSL_free(buf);
    X509_free(cert);
    return out;
}

long tls_verify_result(const std::string& address, const std::string& ca_file)
{
    ws_client::tls t;
    bool ok = t.open(address, ca_file);
    if (!ok && t.verify == X509_V_OK)
        return -1;
    return t.verify;
}

std::vector<std::pair<std::string, std::string>> udp_exchange(const std::string& address, int port,
                                                              const std::string& bytes, int wait_ms)
{
    std::vector<std::pair<std::string, std::string>> out;
    sockaddr_storage ss;
    socklen_t len;
    if (!make_endpoint(address, port, ss, len))
        return out;
    fd_guard s{::socket(ss.ss_family, SOCK_DGRAM, 0)};
    if (s.fd < 0 || ::sendto(s.fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&ss), len) < 0)
        return out;
    for (int waited = 0; waited < wait_ms; waited += 50) {
        pollfd p{s.fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        char buf[2048];
        sockaddr_storage from;
        socklen_t from_len = sizeof from;
        ssize_t n = ::recvfrom(s.fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &from_len);
        if (n < 0)
            continue;
        char text[INET6_ADDRSTRLEN] = {};
        if (from.ss_family == AF_INET)
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&from)->sin_addr, text, sizeof text);
        else
            inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&from)->sin6_addr, text, sizeof text);
        out.emplace_back(text, std::string(buf, static_cast<std::size_t>(n)));
    }
    return out;
}

std::string hex(const std::string& bytes)
{
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (unsigned char c : bytes) {
        s.push_back(d[c >> 4]);
        s.push_back(d[c & 15]);
    }
    return s;
}

} // namespace wire
