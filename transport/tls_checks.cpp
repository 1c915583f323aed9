#include "transport/tls_checks.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include "transport/conn_sess_impl.h"
#include "transport/path_text.h"
#include "transport/system_trust.h"

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace talvor {

std::uint32_t problem_bits_for(int verify_error)
{
    switch (verify_error) {
    case X509_V_OK:
        return 0;
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
    case X509_V_ERR_HOSTNAME_MISMATCH:
        return problem_identity;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return problem_untrusted;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_INVALID_PURPOSE:
        return problem_invalid;
    default:
        return problem_other;
    }
}

namespace {

// Asio keeps its own verify callback in the SSL's app data: ours needs a
// slot of its own.
int found_slot()
{
    static const int slot = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return slot;
}

int record_failure(int preverify_ok, X509_STORE_CTX* store)
{
    if (!preverify_ok) {
        auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        auto* found = ssl ? static_cast<std::uint32_t*>(SSL_get_ex_data(ssl, found_slot())) : nullptr;
        if (found)
            *found |= problem_bits_for(X509_STORE_CTX_get_error(store));
        else
            return 0; // nowhere to record it: refuse rather than pass it over
    }
    return 1;
}

} // namespace

namespace {

SSL_CTX* build_unit_tls_context(const std::vector<std::string>& trusted_files)
{
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx)
        return nullptr;
    X509_STORE* store = SSL_CTX_get_cert_store(ctx);
    trust_system_authorities(store);
    for (const auto& file : trusted_files)
        X509_STORE_load_file(store, file.c_str()); // an unreadable file trusts nothing
    X509_STORE_set_flags(store, X509_V_FLAG_PARTIAL_CHAIN);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, record_failure);
    // Older units in the field have small keys, SHA-1 signatures or only
    // TLS 1.0; OpenSSL's default level fails their handshake outright. The
    // handshake is let through and legacy_problems names the weakness, so
    // that the user's check level decides as for any other problem.
    SSL_CTX_set_security_level(ctx, 0);
    SSL_CTX_set_min_proto_version(ctx, TLS1_VERSION);
    return ctx;
}

// What the trusted folder holds now: names, sizes and times of its files.
std::string trust_state(const std::vector<std::string>& files)
{
    std::string state = trusted_folder();
    std::error_code ec;
    for (const auto& f : files) {
        state += '\n' + f + ' ' + std::to_string(std::filesystem::file_size(utf8_path(f), ec)) + ' ' +
                 std::to_string(std::filesystem::last_write_time(utf8_path(f), ec).time_since_epoch().count());
    }
    return state;
}

} // namespace

SSL_CTX* make_unit_tls_context()
{
    // Loading the system's authorities costs tens of milliseconds and about a
    // megabyte; with hundreds of units connecting at once that dominated a
    // refresh. One context serves every connection until the trusted folder
    // or the system's trusted certificates change.
    static std::mutex lock;
    static SSL_CTX* cached = nullptr;
    static std::string cached_state;

    const auto files = trusted_pem_files();
    std::string state = trust_state(files) + '\n' + system_trust_state();
    std::lock_guard<std::mutex> g(lock);
    if (!cached || state != cached_state) {
        SSL_CTX* fresh = build_unit_tls_context(files);
        if (!fresh)
            return nullptr;
        if (cached)
            SSL_CTX_free(cached);
        cached = fresh;
        cached_state = std::move(state);
    }
    // The caller owns one reference; the cache keeps its own.
    SSL_CTX_up_ref(cached);
    return cached;
}

namespace {

bool weak_key(X509* cert)
{
    // 2048-bit RSA gives 112 bits; smaller RSA, DSA and curves give less.
    EVP_PKEY* key = X509_get0_pubkey(cert);
    return !key || EVP_PKEY_get_security_bits(key) < 112;
}

bool weak_digest(int digest)
{
    return digest == NID_md5 || digest == NID_sha1 || digest == NID_md5_sha1 || digest == NID_md4 ||
           digest == NID_md2;
}

bool weak_signature(X509* cert)
{
    int digest = NID_undef;
    if (X509_get_signature_info(cert, &digest, nullptr, nullptr, nullptr) != 1)
        return false; // a signature OpenSSL cannot read failed verification already
    return weak_digest(digest);
}

// What level 0 lets through in the handshake itself: old protocols, short
// ciphers, small key-exchange groups and a SHA-1 signed key exchange.
bool weak_connection(SSL* ssl)
{
    if (SSL_version(ssl) < TLS1_2_VERSION)
        return true;
    if (const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl); cipher && SSL_CIPHER_get_bits(cipher, nullptr) < 112)
        return true;
    EVP_PKEY* exchange = nullptr;
    if (SSL_get_peer_tmp_key(ssl, &exchange) == 1) {
        const bool small = EVP_PKEY_get_security_bits(exchange) < 112;
        EVP_PKEY_free(exchange);
        if (small)
            return true;
    }
    int digest = NID_undef;
    return SSL_get_peer_signature_nid(ssl, &digest) == 1 && weak_digest(digest);
}

} // namespace

std::uint32_t legacy_problems(SSL* ssl)
{
    if (weak_connection(ssl))
        return problem_invalid;
    STACK_OF(X509)* chain = SSL_get0_verified_chain(ssl);
    if (!chain)
        chain = SSL_get_peer_cert_chain(ssl);
    const int n = chain ? sk_X509_num(chain) : 0;
    for (int i = 0; i < n; ++i) {
        X509* cert = sk_X509_value(chain, i);
        if (weak_key(cert))
            return problem_invalid;
        // The anchor's signature on itself vouches for nothing.
        const bool anchor = i > 0 && i == n - 1 && X509_check_issued(cert, cert) == X509_V_OK;
        if (!anchor && weak_signature(cert))
            return problem_invalid;
    }
    return 0;
}

bool prepare_unit_tls(SSL* ssl, const ip_address& address, std::uint32_t* found)
{
    if (found_slot() < 0 || SSL_set_ex_data(ssl, found_slot(), found) != 1)
        return false;
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_PARTIAL_CHAIN);
    // An IPv4 unit is named by its 4-byte address in a certificate, never
    // by the mapped 16-byte form.
    if (is_dotted_host(address))
        return X509_VERIFY_PARAM_set1_ip(param, address.data() + 12, 4) == 1;
    return X509_VERIFY_PARAM_set1_ip(param, address.data(), 16) == 1;
}

} // namespace talvor
