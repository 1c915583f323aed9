#include "transport/unit_connect.h"

#include "transport/io_step.h"

namespace talvor {

int connect_unit(boost::asio::io_context& loop, conn_sess::impl& session, boost::asio::ip::tcp::socket& socket,
                 unsigned short port)
{
    namespace asio = boost::asio;
    using asio::ip::tcp;
    boost::system::error_code ec;
    const auto address = asio::ip::make_address(connect_text(session.address), ec);
    if (ec)
        return tcode::send_error;
    bool finished = false;
    const auto end = run_step(
        loop, session, session.timeouts.connect,
        [&] {
            socket.async_connect(tcp::endpoint(address, port), [&](boost::system::error_code e) {
                ec = e;
                finished = true;
            });
        },
        finished,
        [&] {
            boost::system::error_code ignored;
            socket.close(ignored);
        });
    if (end == step_end::cancelled)
        return tcode::cancelled;
    if (end == step_end::timed_out || ec)
        return ec == asio::error::connection_refused ? tcode::connection_refused : tcode::send_error;
    socket.set_option(tcp::no_delay(true), ec);
    return tcode::ok;
}

} // namespace talvor
