#pragma once
// Certificates made on the fly for the scripted TLS unit: a throw-away
// authority and a leaf for one IP address.
#include <string>

namespace talvor::test {

struct test_cert {
    std::string ca_pem;   // the authority's certificate
    std::string cert_pem; // the leaf, signed by the authority
    std::string key_pem;  // the leaf's private key
    std::string cert_der;
};

// `expired`: the leaf's validity ended a year ago. `name_ip`: the address
// named in the leaf (another address gives a name mismatch).
test_cert make_test_cert(const std::string& name_ip, bool expired);

} // namespace talvor::test
