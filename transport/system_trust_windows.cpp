#include "transport/system_trust.h"

#include <windows.h>
#include <wincrypt.h>

#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>

namespace talvor {

namespace {

struct store_closer {
    void operator()(void* store) const { ::CertCloseStore(store, 0); }
};
using store_handle = std::unique_ptr<void, store_closer>;

// The current user's "Root" store (which on Windows shows the machine's
// too) and the local machine's, where IT rolls out a company authority.
store_handle user_roots() { return store_handle(::CertOpenSystemStoreW(0, L"ROOT")); }
store_handle machine_roots()
{
    return store_handle(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                        CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_OPEN_EXISTING_FLAG |
                                            CERT_STORE_READONLY_FLAG,
                                        L"ROOT"));
}

template <typename Visit> void for_each_root(Visit visit)
{
    for (const store_handle& store : {user_roots(), machine_roots()}) {
        if (!store)
            continue; // a store that cannot be opened trusts nothing
        for (PCCERT_CONTEXT c = nullptr; (c = ::CertEnumCertificatesInStore(store.get(), c)) != nullptr;)
            visit(c);
    }
}

} // namespace

void trust_system_authorities(X509_STORE* store)
{
    for_each_root([store](PCCERT_CONTEXT c) {
        const unsigned char* p = c->pbCertEncoded;
        if (X509* cert = d2i_X509(nullptr, &p, static_cast<long>(c->cbCertEncoded))) {
            X509_STORE_add_cert(store, cert);
            X509_free(cert);
        }
    });
    ERR_clear_error(); // one the machine's store shows twice, or unreadable, is no failure
}

// The stores' thumbprints: a certificate trusted while the program runs
// (by this program or by anyone) counts from the next connection on.
std::string system_trust_state()
{
    std::string state;
    for_each_root([&state](PCCERT_CONTEXT c) {
        BYTE hash[20];
        DWORD size = sizeof hash;
        if (::CertGetCertificateContextProperty(c, CERT_SHA1_HASH_PROP_ID, hash, &size))
            state.append(reinterpret_cast<const char*>(hash), size);
    });
    return state;
}

// Windows asks the user to confirm a new root certificate; a refusal fails
// the call as any other failure does.
int add_to_user_trust(std::span<const std::uint8_t> der)
{
    std::unique_ptr<const CERT_CONTEXT, decltype(&::CertFreeCertificateContext)> cert(
        ::CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                       static_cast<DWORD>(der.size())),
        ::CertFreeCertificateContext);
    if (!cert)
        return -1;
    const store_handle store(
        ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT"));
    if (!store)
        return -1;
    return ::CertAddCertificateContextToStore(store.get(), cert.get(), CERT_STORE_ADD_REPLACE_EXISTING, nullptr)
        ? 0
        : -1;
}

} // namespace talvor
