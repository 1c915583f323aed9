#pragma once
// A TCP port on a loopback address that takes connections (the kernel
// completes them) and never reads or answers: a unit that accepts and stalls.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

namespace talvor::test {

class silent_listener {
public:
    explicit silent_listener(const std::string& ipv4, int port = 80)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(static_cast<unsigned short>(port));
        ::inet_pton(AF_INET, ipv4.c_str(), &at.sin_addr);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || ::listen(fd_, 16) != 0)
            throw std::runtime_error("cannot listen on " + ipv4);
    }
    ~silent_listener() { ::close(fd_); }
    silent_listener(const silent_listener&) = delete;
    silent_listener& operator=(const silent_listener&) = delete;

    // True once a connection waits on every listener, within `limit`.
    static bool all_connected(const std::vector<silent_listener*>& listeners, std::chrono::milliseconds limit)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        for (silent_listener* l : listeners) {
            pollfd p{l->fd_, POLLIN, 0};
            for (;;) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
                if (left.count() <= 0)
                    return false;
                if (::poll(&p, 1, static_cast<int>(left.count())) == 1)
                    break;
            }
        }
        return true;
    }

private:
    int fd_ = -1;
};

} // namespace talvor::test
