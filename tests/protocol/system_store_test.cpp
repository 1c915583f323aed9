// Windows' own certificate stores: an authority in the current user's
// "Root" store vouches for a unit, and trusting a unit puts its certificate
// there (CryptoAPI, under Wine here).
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include "protocol/zt_hub_wss.h"
#include "tests/protocol/sim_unit.h"

namespace talvor {
namespace {

using test::sim_unit;

// The current user's "Root" store, and whether it holds a certificate.
struct user_root_store {
    HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT");
    ~user_root_store() { ::CertCloseStore(store, 0); }
    int count(const std::string& der) const
    {
        int n = 0;
        for (PCCERT_CONTEXT c = nullptr; (c = ::CertEnumCertificatesInStore(store, c)) != nullptr;)
            n += std::string(reinterpret_cast<const char*>(c->pbCertEncoded), c->cbCertEncoded) == der;
        return n;
    }
    void remove(const std::string& der)
    {
        for (PCCERT_CONTEXT c = nullptr; (c = ::CertEnumCertificatesInStore(store, c)) != nullptr;) {
            if (std::string(reinterpret_cast<const char*>(c->pbCertEncoded), c->cbCertEncoded) == der)
                ::CertDeleteCertificateFromStore(::CertDuplicateCertificateContext(c));
        }
    }
};

// A connection at the "Standard" level: 0, or -1000 with the problems found.
std::pair<int, std::uint32_t> standard_challenge(std::uint8_t host, byte_vector* cert = nullptr)
{
    zt_hub_wss hub(conn_sess::create(test::v4(127, 5, 9, host), std::string(user_agent_text)));
    hub.allowed_problems = hub.accepted_problems = problems_allowed_by(1);
    const int result = hub.get_challenge(nullptr);
    if (cert)
        *cert = hub.get_server_cert();
    return {result, hub.found_problems};
}

TEST(SystemStore, AnAuthorityInTheUsersRootStoreVouchesForItsUnits)
{
    sim_unit sim("r1", R"({ "name" : "r1", "kind" : "wss", "address" : "127.5.9.1", "cert" : "valid" })");
    set_trusted_folder(test::fresh_folder("empty-r1").string()); // nothing trusted through the folder
    EXPECT_EQ(standard_challenge(1), std::make_pair(-1000, problem_untrusted));

    const std::string ca = sim.fleet->ca_cert_der();
    user_root_store roots;
    ASSERT_TRUE(::CertAddEncodedCertificateToStore(roots.store, X509_ASN_ENCODING,
                                                   reinterpret_cast<const BYTE*>(ca.data()),
                                                   static_cast<DWORD>(ca.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                   nullptr));
    EXPECT_EQ(standard_challenge(1), std::make_pair(0, 0u));
    roots.remove(ca);
}

TEST(SystemStore, TrustingAUnitAddsItsCertificateToTheUsersRootStoreOnce)
{
    sim_unit sim("r2", R"({ "name" : "r2", "kind" : "wss", "address" : "127.5.9.2", "cert" : "valid" })");
    set_trusted_folder(""); // the user's own store
    byte_vector der;
    ASSERT_EQ(standard_challenge(2, &der).first, -1000);
    ASSERT_FALSE(der.empty());

    ASSERT_EQ(trust_certificate(der), 0);
    ASSERT_EQ(trust_certificate(der), 0); // replaces the one already there
    user_root_store roots;
    const std::string leaf(der.begin(), der.end());
    EXPECT_EQ(roots.count(leaf), 1);
    EXPECT_EQ(standard_challenge(2), std::make_pair(0, 0u));
    roots.remove(leaf);
}

} // namespace
} // namespace talvor
