#pragma once
// The network sides of the units: plain HTTP on 80, TLS WebSocket on 443 and
// the discovery responder on UDP 2211, all on one io_context.
#include "simulator/certs.h"
#include "simulator/request_log.h"
#include "simulator/unit.h"

#include <boost/asio/io_context.hpp>
#include <memory>
#include <vector>

namespace talvor::sim {

struct shared_ctx {
    shared_ctx(const std::filesystem::path& log_file, bool check_wire) : log(log_file), wire_check(check_wire) {}
    request_log log;
    bool wire_check;
};

constexpr std::size_t body_limit = 64u << 20; // well above the clients' 16 MiB files

// Each binds at once (throwing std::runtime_error on failure) and then accepts
// until the io_context stops.
void listen_http(boost::asio::io_context& ioc, std::shared_ptr<unit> u, std::shared_ptr<shared_ctx> ctx);
// Presents the unit's served certificate (set before this call).
void listen_wss(boost::asio::io_context& ioc, std::shared_ptr<unit> u, std::shared_ptr<shared_ctx> ctx);
void start_discovery(boost::asio::io_context& ioc, const std::vector<std::shared_ptr<unit>>& units,
                     std::shared_ptr<shared_ctx> ctx, discovery_mode mode);

// The discovery reply of a unit; empty when it stays silent.
std::string discovery_reply_bytes(const discovery_reply& d, bool extended_asked);

// The byte-exact text the client builds for a parsed WebSocket envelope.
std::string canonical_envelope(const boost::json::value& v);

} // namespace talvor::sim
