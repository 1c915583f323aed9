#include "transport/socket_calls.h"

#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>

namespace talvor {

namespace {
bool would_wait() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }
} // namespace

long socket_send(os_socket s, const void* data, std::size_t size, bool& retry)
{
    // send() rather than write(): a unit that resets the connection must
    // not raise SIGPIPE.
    const ssize_t n = ::send(static_cast<int>(s), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    retry = n < 0 && would_wait();
    return static_cast<long>(n);
}

long socket_receive(os_socket s, void* out, std::size_t size, bool& retry)
{
    const ssize_t n = ::recv(static_cast<int>(s), out, size, MSG_DONTWAIT);
    retry = n < 0 && would_wait();
    return static_cast<long>(n);
}

std::size_t socket_unsent(os_socket s)
{
    int queued = 0;
    if (::ioctl(static_cast<int>(s), SIOCOUTQ, &queued) != 0 || queued < 0)
        return 0;
    return static_cast<std::size_t>(queued);
}

void socket_cork(os_socket s, bool on)
{
    const int value = on ? 1 : 0;
    ::setsockopt(static_cast<int>(s), IPPROTO_TCP, TCP_CORK, &value, sizeof value);
}

} // namespace talvor
