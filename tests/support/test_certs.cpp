#include "tests/support/test_certs.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <stdexcept>

namespace talvor::test {

namespace {

using pkey_ptr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using x509_ptr = std::unique_ptr<X509, decltype(&X509_free)>;

pkey_ptr new_key() { return pkey_ptr(EVP_EC_gen("P-256"), EVP_PKEY_free); }

void add_ext(X509* cert, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        throw std::runtime_error("bad extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

x509_ptr new_cert(const char* cn, EVP_PKEY* key, long from_days, long to_days, long serial)
{
    x509_ptr cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), from_days * 86400L);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), to_days * 86400L);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    return cert;
}

byte_vector der_of(X509* cert)
{
    byte_vector out(static_cast<std::size_t>(i2d_X509(cert, nullptr)));
    unsigned char* p = out.data();
    i2d_X509(cert, &p);
    return out;
}

std::string pem_of(X509* cert)
{
    BIO* b = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(b, cert);
    char* data;
    const long n = BIO_get_mem_data(b, &data);
    std::string s(data, static_cast<std::size_t>(n));
    BIO_free(b);
    return s;
}

std::string pem_of(EVP_PKEY* key)
{
    BIO* b = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(b, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data;
    const long n = BIO_get_mem_data(b, &data);
    std::string s(data, static_cast<std::size_t>(n));
    BIO_free(b);
    return s;
}

} // namespace

struct test_authority::keys {
    pkey_ptr key{nullptr, EVP_PKEY_free};
    x509_ptr cert{nullptr, X509_free};
};

test_authority::test_authority(const char* name) : k_(std::make_unique<keys>())
{
    k_->key = new_key();
    k_->cert = new_cert(name, k_->key.get(), -10, 3650, 1);
    X509_set_issuer_name(k_->cert.get(), X509_get_subject_name(k_->cert.get()));
    add_ext(k_->cert.get(), k_->cert.get(), NID_basic_constraints, "critical,CA:TRUE");
    add_ext(k_->cert.get(), k_->cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    add_ext(k_->cert.get(), k_->cert.get(), NID_subject_key_identifier, "hash");
    X509_sign(k_->cert.get(), k_->key.get(), EVP_sha256());
    der_ = der_of(k_->cert.get());
}

test_authority::~test_authority() = default;

issued test_authority::issue(const cert_options& o) const
{
    static std::atomic<long> serial{100};
    pkey_ptr key = new_key();
    x509_ptr cert = new_cert("unit", key.get(), o.valid_from_days, o.valid_to_days, serial++);
    X509* issuer = o.self_signed ? cert.get() : k_->cert.get();
    EVP_PKEY* signer = o.self_signed ? key.get() : k_->key.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(issuer));
    add_ext(cert.get(), issuer, NID_subject_alt_name, ("IP:" + o.ip).c_str());
    add_ext(cert.get(), issuer, NID_ext_key_usage, o.server_usage ? "serverAuth" : "clientAuth");
    X509_sign(cert.get(), signer, EVP_sha256());
    if (o.bad_signature) {
        // Flip a bit of the signature: the chain checks out, the signature not.
        const ASN1_BIT_STRING* sig;
        X509_get0_signature(&sig, nullptr, cert.get());
        const_cast<unsigned char*>(ASN1_STRING_get0_data(sig))[10] ^= 1;
    }
    return issued{pem_of(cert.get()), pem_of(key.get()), der_of(cert.get())};
}

} // namespace talvor::test
