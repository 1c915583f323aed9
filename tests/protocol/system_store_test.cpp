// Windows' own certificate stores: an authority in the current user's
// "Root" store vouches for a unit, and trusting a unit puts its certificate
// there (CryptoAPI, under Wine here).
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "protocol/zt_hub_wss.h"
#include "tests/protocol/sim_unit.h"

namespace talvor {
namespace {

using test::sim_unit;

// The current user's "Root" store, opened for one change or look: Wine
// writes a change back when the store is closed.
struct user_root_store {
    HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT");
    ~user_root_store() { ::CertCloseStore(store, 0); }
    bool add(const std::string& der)
    {
        return ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                  static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                  nullptr);
    }
    // How many times it holds `der`; with `remove`, it holds it no more.
    int count(const std::string& der, bool remove = false)
    {
        std::vector<PCCERT_CONTEXT> found;
        for (PCCERT_CONTEXT c = nullptr; (c = ::CertEnumCertificatesInStore(store, c)) != nullptr;) {
            if (std::string(reinterpret_cast<const char*>(c->pbCertEncoded), c->cbCertEncoded) == der)
                found.push_back(::CertDuplicateCertificateContext(c));
        }
        // Not while enumerating: Wine's enumeration never ends then.
        for (PCCERT_CONTEXT c : found)
            remove ? ::CertDeleteCertificateFromStore(c) : ::CertFreeCertificateContext(c);
        return static_cast<int>(found.size());
    }
};

// A connection at check level `level`: 0, or -1000 with the problems found;
// the certificate the unit presented into `cert`.
std::pair<int, std::uint32_t> challenge(std::uint8_t host, int level = 1, byte_vector* cert = nullptr)
{
    zt_hub_wss hub(conn_sess::create(test::v4(127, 5, 9, host), std::string(user_agent_text)));
    hub.allowed_problems = hub.accepted_problems = problems_allowed_by(level);
    const int result = hub.get_challenge(nullptr);
    if (cert)
        *cert = hub.get_server_cert();
    return {result, hub.found_problems};
}

TEST(SystemStore, AnAuthorityInTheUsersRootStoreVouchesForItsUnits)
{
    sim_unit sim("r1", R"({ "name" : "r1", "kind" : "wss", "address" : "127.5.9.1", "cert" : "valid" })");
    set_trusted_folder(test::fresh_folder("empty-r1").string()); // nothing trusted through the folder
    EXPECT_EQ(challenge(1), std::make_pair(-1000, problem_untrusted));

    const std::string ca = sim.fleet->ca_cert_der();
    ASSERT_TRUE(user_root_store().add(ca));
    EXPECT_EQ(challenge(1), std::make_pair(0, 0u));
    user_root_store().count(ca, true);
}

TEST(SystemStore, TrustingAUnitAddsItsCertificateToTheUsersRootStoreOnce)
{
    sim_unit sim("r2", R"({ "name" : "r2", "kind" : "wss", "address" : "127.5.9.2", "cert" : "valid" })");
    set_trusted_folder(""); // the user's own store
    byte_vector der;
    ASSERT_EQ(challenge(2), std::make_pair(-1000, problem_untrusted));
    ASSERT_EQ(challenge(2, 0, &der).first, 0);
    ASSERT_FALSE(der.empty());

    ASSERT_EQ(trust_certificate(der), 0);
    ASSERT_EQ(trust_certificate(der), 0); // replaces the one already there
    const std::string leaf(der.begin(), der.end());
    EXPECT_EQ(user_root_store().count(leaf), 1);
    EXPECT_EQ(challenge(2), std::make_pair(0, 0u));
    user_root_store().count(leaf, true);
}

} // namespace
} // namespace talvor
