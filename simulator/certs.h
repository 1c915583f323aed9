#pragma once
// A test certificate authority and the certificates the units present.
#include "simulator/fleet.h"

#include <optional>
#include <string>

namespace talvor::sim {

struct issued_cert {
    std::string cert_der;
    std::string key_der; // PKCS#8 private key
};

// The certificate and key files (PEM or DER each) as a servable pair;
// nothing when either does not parse or the key does not belong to the
// certificate.
std::optional<issued_cert> matching_pair(const std::string& cert_file, const std::string& key_file);

class test_ca {
public:
    test_ca();
    ~test_ca();
    test_ca(const test_ca&) = delete;
    test_ca& operator=(const test_ca&) = delete;

    const std::string& cert_der() const { return cert_der_; }
    std::string cert_pem() const;
    // A certificate for a unit at `address` with the fault `kind`.
    issued_cert issue(const std::string& address, cert_kind kind);

private:
    struct state;
    state* s_;
    std::string cert_der_;
};

} // namespace talvor::sim
