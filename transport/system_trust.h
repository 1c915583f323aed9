#pragma once
// What the system itself trusts for a unit's TLS certificate, and the
// user's own store that trusting a unit adds to: on Windows the "Root"
// certificate stores, elsewhere the system's bundle and the per-user
// trusted-units folder.
#include <cstdint>
#include <span>
#include <string>

typedef struct x509_store_st X509_STORE;

namespace talvor {

// Adds the system's authorities to a verification store.
void trust_system_authorities(X509_STORE* store);

// Changes whenever what trust_system_authorities adds may have changed
// since it was last read (empty where that is only read once).
std::string system_trust_state();

// Adds a DER certificate to the current user's own trusted certificates,
// replacing one already there; 0 or -1.
int add_to_user_trust(std::span<const std::uint8_t> der);

// Stores a DER certificate as a PEM file of trusted_folder(); 0 or -1.
int add_to_trusted_folder(std::span<const std::uint8_t> der);

} // namespace talvor
