#pragma once
// The few socket calls the transport makes itself, outside Boost.Asio, on
// a system's own socket handles (a file descriptor, or a Winsock SOCKET).
#include <cstddef>
#include <cstdint>
#include <string>

#include "transport/conn_sess.h"

namespace talvor {

using os_socket = std::intptr_t;

// Bytes sent or read, or -1; `retry` says whether the call would have
// waited (the socket stays usable) rather than failed. Never raises SIGPIPE
// and never waits, whatever the socket's own mode.
long socket_send(os_socket s, const void* data, std::size_t size, bool& retry);
long socket_receive(os_socket s, void* out, std::size_t size, bool& retry);

// Bytes written to the socket that the peer has not acknowledged yet; 0
// where the system does not say.
std::size_t socket_unsent(os_socket s);

// Holds partial segments back while on, so that pieces written one after
// another leave as full segments; nothing where the system has no such
// option.
void socket_cork(os_socket s, bool on);

// An IPv6 address (IPv4 ones mapped) as the system writes it; empty when
// it cannot.
std::string ipv6_address_text(const ip_address& address);
// Reads a textual IPv6 address (or "::ffff:a.b.c.d"); false when it is none.
bool ipv6_address_from_text(const char* text, ip_address& out);

} // namespace talvor
