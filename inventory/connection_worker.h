#pragma once
// What a unit's jobs need from the window side to connect: the bridge to the
// UI thread, the running settings and the hub factory.
#include <chrono>
#include <functional>
#include <memory>

#include "inventory/app_settings.h"
#include "inventory/hub_device.h"
#include "inventory/window_bridge.h"
#include "protocol/zt_hub.h"

namespace talvor {

// Probes the unit over a session the connection worker made first, so that
// the unit's cancel reaches the probe too.
using hub_factory = std::function<probe_result(std::shared_ptr<conn_sess> session, int tls_checks)>;

struct connection_env {
    window_bridge* bridge = nullptr;
    const AppSettings* settings = nullptr;
    hub_factory factory = probe_hub; // tests put their own clients here
    // Password prompts a unit may take part in; 0 = no limit. A front end
    // that cannot ask a person (the same password every time) sets 1, so a
    // unit refused with that password ends instead of asking for ever.
    int max_password_rounds = 0;
    // Each connection, send and receive of a unit waits at most this long;
    // zero keeps the transport's own limits.
    std::chrono::milliseconds step_limit{0};
    // Each unit asks for its own password and no answer is shared with
    // other units (a front end that answers per unit, from a credentials
    // file). A prompt that gives no password after a refusal then ends the
    // unit as refused.
    bool password_per_unit = false;
};

// Stores a new client as the unit's session. A client made after the unit
// was cancelled starts cancelled.
void install_hub(CHubDevice& unit, std::unique_ptr<zt_hub> hub);
// The unit's worker, around probing it: a cancel meanwhile reaches
// `session`; one that came before starts it cancelled.
void begin_probe(CHubDevice& unit, std::shared_ptr<conn_sess> session);
void end_probe(CHubDevice& unit);
// A new session to the unit, with the run's time limit, probed with the
// running TLS checks: the client, or none when the unit did not answer or
// answered neither protocol. A cancel reaches the session until the caller
// calls end_probe.
probe_result connect_unit(CHubDevice& unit, const connection_env& env);
// UI thread: cuts every network wait of the unit short, now and for a
// client made later.
void cancel_unit(CHubDevice& unit);
// UI thread: lifts an earlier cancel_unit before a new batch, keeping the session.
void lift_cancel(CHubDevice& unit);
// The unit's own worker (or any thread while it is idle): drops the session,
// so the job goes on to probe the unit again. An earlier cancel stays.
void discard_hub(CHubDevice& unit);
// The protocol of the unit's session (protocol_http, protocol_wss), 0 without one.
int unit_protocol(CHubDevice& unit);
// The security problems the unit's session is known to have: plain HTTP is
// unencrypted, and a WebSocket unit's certificate shows those the TLS checks
// found (problems the check level accepts are not looked for). 0 without a session.
std::uint32_t unit_security_problems(CHubDevice& unit);

} // namespace talvor
