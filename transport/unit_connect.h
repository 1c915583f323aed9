#pragma once
// Opening the TCP connection to a unit, for the HTTP exchange and the
// WebSocket alike. Private to transport's .cpp files.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "transport/conn_sess_impl.h"

namespace talvor {

// Connects `socket` (run on `loop`) to the unit's `port` within the
// session's connect limit. Returns tcode::ok, cancelled, connection_refused
// or send_error; Nagle is off on success.
int connect_unit(boost::asio::io_context& loop, conn_sess::impl& session, boost::asio::ip::tcp::socket& socket,
                 unsigned short port);

} // namespace talvor
