#include "transport/socket_calls.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>

namespace talvor {

namespace {

SOCKET handle(os_socket s) { return static_cast<SOCKET>(s); }

int chunk(std::size_t size) { return size > INT_MAX ? INT_MAX : static_cast<int>(size); }

// Asio's sockets on Windows may be in blocking mode (its I/O completion
// ports do not need otherwise), and these calls must never wait.
void never_wait(SOCKET s)
{
    u_long on = 1;
    ::ioctlsocket(s, FIONBIO, &on);
}

// There is no SIGPIPE on Windows to keep away.
long after(int n, bool& retry)
{
    retry = n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK;
    return n == SOCKET_ERROR ? -1 : n;
}

} // namespace

long socket_send(os_socket s, const void* data, std::size_t size, bool& retry)
{
    never_wait(handle(s));
    return after(::send(handle(s), static_cast<const char*>(data), chunk(size), 0), retry);
}

long socket_receive(os_socket s, void* out, std::size_t size, bool& retry)
{
    never_wait(handle(s));
    return after(::recv(handle(s), static_cast<char*>(out), chunk(size), 0), retry);
}

// Winsock does not say how much of the send buffer the peer has not
// acknowledged: progress then counts what left the program.
std::size_t socket_unsent(os_socket) { return 0; }

// Winsock has no corking; Nagle's algorithm already joins small pieces.
void socket_cork(os_socket, bool) {}

} // namespace talvor
