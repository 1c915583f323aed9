#include <gtest/gtest.h>

#include <openssl/x509_vfy.h>

#include "transport/tls_checks.h"

namespace talvor {
namespace {

TEST(TlsChecks, VerificationErrorsMapToTheirProblemBits)
{
    EXPECT_EQ(problem_bits_for(X509_V_OK), 0u);
    EXPECT_EQ(problem_bits_for(X509_V_ERR_IP_ADDRESS_MISMATCH), problem_identity);
    EXPECT_EQ(problem_bits_for(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY), problem_untrusted);
    EXPECT_EQ(problem_bits_for(X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT), problem_untrusted);
    EXPECT_EQ(problem_bits_for(X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN), problem_untrusted);
    EXPECT_EQ(problem_bits_for(X509_V_ERR_CERT_HAS_EXPIRED), problem_invalid);
    EXPECT_EQ(problem_bits_for(X509_V_ERR_CERT_NOT_YET_VALID), problem_invalid);
    EXPECT_EQ(problem_bits_for(X509_V_ERR_INVALID_PURPOSE), problem_invalid);
    EXPECT_EQ(problem_bits_for(X509_V_ERR_CERT_SIGNATURE_FAILURE), problem_other);
    EXPECT_EQ(problem_bits_for(X509_V_ERR_CERT_REVOKED), problem_other);
    EXPECT_EQ(problem_bits_for(X509_V_ERR_EE_KEY_TOO_SMALL), problem_other);
}

} // namespace
} // namespace talvor
