#pragma once
// Certificates made on the spot and a TLS WebSocket unit on port 443 of one
// loopback address, for the certificate and message tests.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "transport/conn_sess.h"

namespace talvor::test {

struct cert_options {
    std::string ip;            // subjectAltName IP entry
    int valid_from_days = -1;  // relative to now
    int valid_to_days = 365;
    bool server_usage = true;  // extended key usage serverAuth, else clientAuth only
    bool self_signed = false;  // else signed by the authority
    bool bad_signature = false;
};

struct issued {
    std::string cert_pem, key_pem;
    byte_vector der;
};

class test_authority {
public:
    explicit test_authority(const char* name = "Talvor Test Authority");
    ~test_authority();
    const byte_vector& der() const { return der_; }
    issued issue(const cert_options& o) const;

private:
    struct keys;
    std::unique_ptr<keys> k_;
    byte_vector der_;
};

// slow_reader takes each message in small reads with pauses between and
// answers with its length in decimal; no_reads never reads after the upgrade.
enum class unit_mode { echo, close_on_message, decline_upgrade, silent, slow_reader, no_reads };

class wss_unit {
public:
    wss_unit(const std::string& ipv4, const issued& cert, unit_mode mode);
    ~wss_unit();
    std::string user_agent() const;
    int upgrades() const { return upgrades_.load(); }

    struct impl;

private:
    std::unique_ptr<impl> impl_;
    std::atomic<int> upgrades_{0};
    std::thread thread_;
};

} // namespace talvor::test
