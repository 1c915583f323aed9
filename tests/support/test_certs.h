#pragma once
// Certificates made on the spot: a throw-away authority and the leaves it
// (or the leaf itself) signs for one IP address, with the faults the
// certificate checks tell apart.
#include <memory>
#include <string>

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

} // namespace talvor::test
