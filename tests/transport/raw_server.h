#pragma once
// A scripted plain-TCP server on port 80 of one loopback address (IPv4,
// or IPv6 text inside a test's own network namespace): each
// accepted connection runs the test's handler on its own thread. Every read
// is bounded, and destruction cuts all connections.
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "transport/conn_sess.h"

namespace talvor::test {

struct http_request {
    std::string head; // request line and headers, through the blank line
    std::string body;
    std::string line() const { return head.substr(0, head.find("\r\n")); }
};

class raw_conn {
public:
    explicit raw_conn(int fd) : fd_(fd) {}
    // Head, then Content-Length bytes of body; nullopt when the peer closed.
    std::optional<http_request> read_request();
    // Up to `n` bytes (fewer at the end); empty when closed.
    std::string read_some(std::size_t n);
    bool send(std::string_view bytes);
    int fd() const { return fd_; }

private:
    int fd_;
    std::string pending_;
};

class raw_server {
public:
    raw_server(std::string ipv4, std::function<void(raw_conn&)> handler, int port = 80);
    ~raw_server();
    int connections() const { return connections_.load(); }

private:
    void accept_loop();

    int listen_fd_ = -1;
    std::function<void(raw_conn&)> handler_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::mutex lock_;
    std::vector<int> open_fds_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

// The IPv4-mapped form of "a.b.c.d".
ip_address mapped(const std::string& ipv4);

// "HTTP/1.1 <status> X\r\n" + headers + Content-Length + body.
std::string reply(int status, std::string_view body, std::string_view extra_headers = "");

} // namespace talvor::test
