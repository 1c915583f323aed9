#include "transport/system_trust.h"

#include <openssl/err.h>
#include <openssl/x509_vfy.h>

namespace talvor {

// The system's bundle file, read once into the store, and its hashed folder
// (SSL_CERT_FILE and SSL_CERT_DIR honoured). OpenSSL's default paths also
// add a store lookup that reads the whole folder on every lookup of an
// unknown issuer: a third of a refresh's time with hundreds of units.
void trust_system_authorities(X509_STORE* store)
{
    if (X509_LOOKUP* file = X509_STORE_add_lookup(store, X509_LOOKUP_file()))
        X509_LOOKUP_load_file(file, nullptr, X509_FILETYPE_DEFAULT);
    if (X509_LOOKUP* folder = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir()))
        X509_LOOKUP_add_dir(folder, nullptr, X509_FILETYPE_DEFAULT);
    ERR_clear_error(); // a missing default file or folder is no failure
}

// The bundle is the administrator's: a change shows at the next start.
std::string system_trust_state() { return {}; }

// The per-user folder is the user's own store here.
int add_to_user_trust(std::span<const std::uint8_t> der) { return add_to_trusted_folder(der); }

} // namespace talvor
