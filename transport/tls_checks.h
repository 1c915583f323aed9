#pragma once
// Certificate checks of the unit's TLS connection: every verification
// failure is recorded as a problem bit and the handshake goes on, so that
// the caller can compare all of them with the problems it accepts.
#include <cstdint>
#include <string>
#include <vector>

#include "transport/conn_sess.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace talvor {

// A failure that none of the problem bits covers: never acceptable.
inline constexpr std::uint32_t problem_other = 0x80000000u;

// The problem bit of one X509_V_ERR_* code.
std::uint32_t problem_bits_for(int verify_error);

// A client context trusting the system's authorities and the trusted-units
// folder (leaves included); null when it cannot be built.
SSL_CTX* make_unit_tls_context();

// Arms one connection: the unit's address is checked against the
// certificate, and failures are ORed into `*found` (which must outlive it).
bool prepare_unit_tls(SSL* ssl, const ip_address& address, std::uint32_t* found);

// After a completed handshake: problem_invalid when the connection or the
// unit's chain is of an older kind (TLS below 1.2, a key weaker than 2048-bit
// RSA, an MD5 or SHA-1 signature), else 0.
std::uint32_t legacy_problems(SSL* ssl);

// PEM files of the trusted-units folder.
std::vector<std::string> trusted_pem_files();

} // namespace talvor
