#include "raw_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace talvor::test {

ip_address mapped(const std::string& ipv4)
{
    ip_address a{};
    a[10] = 0xff;
    a[11] = 0xff;
    inet_pton(AF_INET, ipv4.c_str(), a.data() + 12);
    return a;
}

std::string reply(int status, std::string_view body, std::string_view extra_headers)
{
    std::string r = "HTTP/1.1 " + std::to_string(status) + " X\r\n";
    r += extra_headers;
    r += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    r += body;
    return r;
}

std::string raw_conn::read_some(std::size_t n)
{
    if (!pending_.empty()) {
        std::string out = pending_.substr(0, n);
        pending_.erase(0, out.size());
        return out;
    }
    std::string out(n, '\0');
    const ssize_t got = ::recv(fd_, out.data(), n, 0);
    out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return out;
}

std::optional<http_request> raw_conn::read_request()
{
    http_request r;
    std::size_t end;
    while ((end = pending_.find("\r\n\r\n")) == std::string::npos) {
        char buf[4096];
        const ssize_t got = ::recv(fd_, buf, sizeof buf, 0);
        if (got <= 0)
            return std::nullopt;
        pending_.append(buf, static_cast<std::size_t>(got));
    }
    r.head = pending_.substr(0, end + 4);
    pending_.erase(0, end + 4);
    std::size_t length = 0;
    if (const auto at = r.head.find("Content-Length: "); at != std::string::npos)
        length = std::strtoul(r.head.c_str() + at + 16, nullptr, 10);
    while (pending_.size() < length) {
        char buf[65536];
        const ssize_t got = ::recv(fd_, buf, sizeof buf, 0);
        if (got <= 0)
            return std::nullopt;
        pending_.append(buf, static_cast<std::size_t>(got));
    }
    r.body = pending_.substr(0, length);
    pending_.erase(0, length);
    return r;
}

bool raw_conn::send(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

raw_server::raw_server(std::string ipv4, std::function<void(raw_conn&)> handler, int port)
    : handler_(std::move(handler))
{
    const bool v6 = ipv4.find(':') != std::string::npos;
    listen_fd_ = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage ss{};
    socklen_t size;
    if (v6) {
        auto& sa = reinterpret_cast<sockaddr_in6&>(ss);
        sa.sin6_family = AF_INET6;
        sa.sin6_port = htons(static_cast<std::uint16_t>(port));
        inet_pton(AF_INET6, ipv4.c_str(), &sa.sin6_addr);
        size = sizeof sa;
    } else {
        auto& sa = reinterpret_cast<sockaddr_in&>(ss);
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<std::uint16_t>(port));
        inet_pton(AF_INET, ipv4.c_str(), &sa.sin_addr);
        size = sizeof sa;
    }
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&ss), size) != 0 || ::listen(listen_fd_, 16) != 0) {
        ::close(listen_fd_);
        throw std::runtime_error("cannot listen on " + ipv4);
    }
    acceptor_ = std::thread([this] { accept_loop(); });
}

void raw_server::accept_loop()
{
    while (!stop_) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        timeval limit{10, 0}; // no test waits on a silent client longer
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        ++connections_;
        std::lock_guard g(lock_);
        open_fds_.push_back(fd);
        workers_.emplace_back([this, fd] {
            raw_conn c(fd);
            handler_(c);
            ::shutdown(fd, SHUT_RDWR);
        });
    }
}

raw_server::~raw_server()
{
    stop_ = true;
    acceptor_.join();
    ::close(listen_fd_);
    {
        std::lock_guard g(lock_);
        for (const int fd : open_fds_)
            ::shutdown(fd, SHUT_RDWR);
    }
    for (auto& t : workers_)
        t.join();
    for (const int fd : open_fds_)
        ::close(fd);
}

} // namespace talvor::test
