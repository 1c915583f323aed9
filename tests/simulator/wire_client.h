#pragma once
// A deliberately small client of the tests' own: POSIX sockets, OpenSSL and
// hand-made HTTP and WebSocket framing, so the simulator is checked against
// the wire forms and not against the project's client. Every wait is bounded.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace wire {

struct http_answer {
    int status = -1; // -1: no answer (refused, closed, timed out)
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string header(const std::string& name) const;         // first, case-insensitive
    std::vector<std::string> all(const std::string& name) const; // every one
};

// One request on a fresh connection carrying only Host, User-Agent and
// Content-Length, as the client sends them.
http_answer http(const std::string& address, const std::string& method, const std::string& target,
                 const std::string& body = {});
// Sends raw bytes on port 80 and reads until the unit closes or time runs out.
std::string http_raw(const std::string& address, const std::string& bytes, int timeout_ms = 3000);

// True when something accepts a TCP connection on address:port.
bool port_open(const std::string& address, int port);

// Multipart body as the client frames it.
std::string multipart(const std::vector<std::string>& parts, const std::string& boundary = "--------0123456789abcdef");

class ws_client {
public:
    // TLS to address:443 verified against the CA file (IP address checked),
    // then the upgrade on "/". Throws std::runtime_error with the reason.
    ws_client(const std::string& address, const std::string& ca_file);
    ~ws_client();
    ws_client(const ws_client&) = delete;
    ws_client& operator=(const ws_client&) = delete;

    void send(const std::string& message); // one binary message
    // The next message; empty with closed() set after a close frame or EOF.
    std::string receive();
    std::string request(const std::string& message) { send(message); return receive(); }
    bool closed() const { return closed_; }
    std::string peer_cert_der() const;
    void set_timeout_ms(int ms);

    struct tls;

private:
    std::unique_ptr<tls> t_;
    bool closed_ = false;
};

// OpenSSL's verification result (X509_V_OK when it verifies) for the
// certificate of address:443 checked against the CA and the IP address;
// -1 when no TLS handshake could start.
long tls_verify_result(const std::string& address, const std::string& ca_file);

// Sends one datagram to address:port and collects the replies for wait_ms:
// (sender address, bytes) each.
std::vector<std::pair<std::string, std::string>> udp_exchange(const std::string& address, int port,
                                                              const std::string& bytes, int wait_ms = 500);

std::string hex(const std::string& bytes);

} // namespace wire
