#pragma once
// A TLS WebSocket unit on port 443 of one loopback address (or ::1 inside a
// test's own namespace): a fixed behaviour for the socket tests, or replies
// a test scripts message by message. It records the upgrade's User-Agent,
// the connections and every message it received.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_certs.h"

namespace talvor::test {

struct ws_action {
    enum kind_t { binary, text, close, drop } kind = binary;
    std::string bytes;
};
inline ws_action reply(std::string bytes) { return {ws_action::binary, std::move(bytes)}; }

// Called for each message: the connection (0, 1, ...) and the message bytes.
using ws_script = std::function<std::vector<ws_action>(int connection, const std::string& message)>;

// The `_id` of an envelope, or -1.
long long envelope_id(const std::string& message);
// The envelope's request name, or "".
std::string request_name(const std::string& message);
// "data:<id>,<status>,<payload>" for that message.
std::string answer(const std::string& message, int status, const std::string& payload = {});

// echo answers each message with itself; slow_reader takes each message in
// small reads with pauses between and answers with its length in decimal;
// no_reads never reads after the upgrade.
enum class unit_mode { echo, close_on_message, decline_upgrade, silent, slow_reader, no_reads };

class wss_unit {
public:
    wss_unit(const std::string& ip, const issued& cert, unit_mode mode);
    wss_unit(const std::string& ip, const issued& cert, ws_script script);
    // With a leaf of its own from an authority nobody trusts.
    wss_unit(const std::string& ip, ws_script script, bool expired_cert = false);
    ~wss_unit();

    const issued& cert() const { return cert_; }
    std::string user_agent() const;
    int upgrades() const;
    int connections() const;
    std::vector<std::string> messages() const;

    struct impl;

private:
    wss_unit(const std::string& ip, const issued& cert, unit_mode mode, ws_script script);

    issued cert_;
    std::unique_ptr<impl> impl_;
};

} // namespace talvor::test
