#include "tests/protocol/test_certs.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

namespace talvor::test {
namespace {

struct free_key { void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); } };
struct free_cert { void operator()(X509* x) const { X509_free(x); } };
struct free_bio { void operator()(BIO* b) const { BIO_free(b); } };
using key_ptr = std::unique_ptr<EVP_PKEY, free_key>;
using cert_ptr = std::unique_ptr<X509, free_cert>;

void check(bool ok, const char* what)
{
    if (!ok)
        throw std::runtime_error(std::string("test certificate: ") + what);
}

void add_ext(X509* x, X509* issuer, int nid, const std::string& value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, x, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    check(ext != nullptr, "extension");
    X509_add_ext(x, ext, -1);
    X509_EXTENSION_free(ext);
}

cert_ptr make(EVP_PKEY* key, const char* cn, X509* issuer, EVP_PKEY* issuer_key, long from_s, long to_s, long serial)
{
    cert_ptr x(X509_new());
    X509_set_version(x.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(x.get()), from_s);
    X509_gmtime_adj(X509_getm_notAfter(x.get()), to_s);
    X509_set_pubkey(x.get(), key);
    X509_NAME* name = X509_get_subject_name(x.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    X509_set_issuer_name(x.get(), issuer ? X509_get_subject_name(issuer) : name);
    if (!issuer)
        add_ext(x.get(), x.get(), NID_basic_constraints, "critical,CA:TRUE");
    check(X509_sign(x.get(), issuer_key ? issuer_key : key, EVP_sha256()) > 0, "sign");
    return x;
}

std::string pem_of(X509* x)
{
    std::unique_ptr<BIO, free_bio> b(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(b.get(), x);
    char* data = nullptr;
    const long n = BIO_get_mem_data(b.get(), &data);
    return std::string(data, static_cast<std::size_t>(n));
}

} // namespace

test_cert make_test_cert(const std::string& name_ip, bool expired)
{
    key_ptr ca_key(EVP_EC_gen("P-256"));
    key_ptr leaf_key(EVP_EC_gen("P-256"));
    check(ca_key && leaf_key, "key");
    const long year = 365L * 86400;
    cert_ptr ca = make(ca_key.get(), "Talvor test authority", nullptr, nullptr, -2 * year, 5 * year, 1);

    cert_ptr leaf(X509_new());
    {
        X509* x = leaf.get();
        X509_set_version(x, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(x), 2);
        X509_gmtime_adj(X509_getm_notBefore(x), expired ? -2 * year : -3600);
        X509_gmtime_adj(X509_getm_notAfter(x), expired ? -year : year);
        X509_set_pubkey(x, leaf_key.get());
        X509_NAME* name = X509_get_subject_name(x);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(name_ip.c_str()),
                                   -1, -1, 0);
        X509_set_issuer_name(x, X509_get_subject_name(ca.get()));
        add_ext(x, ca.get(), NID_subject_alt_name, "IP:" + name_ip);
        add_ext(x, ca.get(), NID_ext_key_usage, "serverAuth");
        check(X509_sign(x, ca_key.get(), EVP_sha256()) > 0, "sign leaf");
    }

    test_cert out;
    out.ca_pem = pem_of(ca.get());
    out.cert_pem = pem_of(leaf.get());
    {
        std::unique_ptr<BIO, free_bio> b(BIO_new(BIO_s_mem()));
        PEM_write_bio_PrivateKey(b.get(), leaf_key.get(), nullptr, nullptr, 0, nullptr, nullptr);
        char* data = nullptr;
        const long n = BIO_get_mem_data(b.get(), &data);
        out.key_pem.assign(data, static_cast<std::size_t>(n));
    }
    unsigned char* der = nullptr;
    const int n = i2d_X509(leaf.get(), &der);
    check(n > 0, "der");
    out.cert_der.assign(reinterpret_cast<char*>(der), static_cast<std::size_t>(n));
    OPENSSL_free(der);
    return out;
}

} // namespace talvor::test
