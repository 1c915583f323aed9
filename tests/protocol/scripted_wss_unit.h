#pragma once
// A TLS WebSocket unit on port 443 of one loopback address whose replies a
// test scripts message by message; it records every message it received.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/protocol/test_certs.h"

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

class scripted_wss_unit {
public:
    scripted_wss_unit(const std::string& ip, ws_script script, bool expired_cert = false);
    ~scripted_wss_unit();

    std::vector<std::string> messages() const;
    int connections() const;
    const test_cert& cert() const { return cert_; }

    struct impl;

private:
    test_cert cert_;
    std::unique_ptr<impl> impl_;
};

} // namespace talvor::test
