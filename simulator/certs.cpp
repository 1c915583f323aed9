#include "simulator/certs.h"

#include <atomic>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdexcept>

namespace talvor::sim {
namespace {

struct key_free {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct x509_free {
    void operator()(X509* c) const { X509_free(c); }
};
using key_ptr = std::unique_ptr<EVP_PKEY, key_free>;
using x509_ptr = std::unique_ptr<X509, x509_free>;

void check(bool ok, const char* what)
{
    if (!ok)
        throw std::runtime_error(std::string("certificate generation failed: ") + what);
}

key_ptr new_key()
{
    key_ptr k(EVP_EC_gen("P-256"));
    check(k != nullptr, "key");
    return k;
}

// What older units still present: a key too small for today's defaults.
key_ptr new_legacy_key()
{
    key_ptr k(EVP_RSA_gen(1024));
    check(k != nullptr, "legacy key");
    return k;
}

std::atomic<long> serial_counter{1};

void add_ext(X509* cert, X509* issuer, int nid, const std::string& value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    check(ext != nullptr, "extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

struct cert_plan {
    std::string common_name;
    std::string alt_names; // empty for none
    long not_before_s;     // offsets from now
    long not_after_s;
    bool ca = false;
    std::string ext_key_usage;
    std::string key_usage = "critical,digitalSignature,keyAgreement";
    const EVP_MD* digest = EVP_sha256();
};

x509_ptr make_cert(const cert_plan& p, EVP_PKEY* subject_key, X509* issuer, EVP_PKEY* issuer_key)
{
    x509_ptr cert(X509_new());
    check(cert != nullptr, "new");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial_counter++);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), p.not_before_s);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), p.not_after_s);
    X509_set_pubkey(cert.get(), subject_key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Talvor Test"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(p.common_name.c_str()), -1, -1, 0);
    X509* signer = issuer ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    if (p.ca) {
        add_ext(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        add_ext(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        add_ext(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
        add_ext(cert.get(), signer, NID_key_usage, p.key_usage);
        add_ext(cert.get(), signer, NID_ext_key_usage, p.ext_key_usage);
    }
    add_ext(cert.get(), signer, NID_subject_key_identifier, "hash");
    if (issuer)
        add_ext(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
    if (!p.alt_names.empty())
        add_ext(cert.get(), signer, NID_subject_alt_name, p.alt_names);
    check(X509_sign(cert.get(), issuer_key, p.digest) > 0, "sign");
    return cert;
}

std::string der_of(X509* cert)
{
    unsigned char* buf = nullptr;
    int n = i2d_X509(cert, &buf);
    check(n > 0, "encode");
    std::string out(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
    OPENSSL_free(buf);
    return out;
}

std::string key_der_of(EVP_PKEY* key)
{
    unsigned char* buf = nullptr;
    int n = i2d_PrivateKey(key, &buf);
    check(n > 0, "encode key");
    std::string out(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
    OPENSSL_free(buf);
    return out;
}

constexpr long day = 24 * 3600;

} // namespace

std::optional<issued_cert> matching_pair(const std::string& cert_file, const std::string& key_file)
{
    auto bio_of = [](const std::string& text) {
        return std::unique_ptr<BIO, decltype(&BIO_free)>(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())),
                                                         BIO_free);
    };
    auto cert_bio = bio_of(cert_file);
    x509_ptr cert(PEM_read_bio_X509(cert_bio.get(), nullptr, nullptr, nullptr));
    if (!cert) {
        const auto* p = reinterpret_cast<const unsigned char*>(cert_file.data());
        cert.reset(d2i_X509(nullptr, &p, static_cast<long>(cert_file.size())));
    }
    auto key_bio = bio_of(key_file);
    key_ptr key(PEM_read_bio_PrivateKey(key_bio.get(), nullptr, nullptr, nullptr));
    if (!key) {
        const auto* p = reinterpret_cast<const unsigned char*>(key_file.data());
        key.reset(d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(key_file.size())));
    }
    if (!cert || !key || X509_check_private_key(cert.get(), key.get()) != 1)
        return std::nullopt;
    return issued_cert{der_of(cert.get()), key_der_of(key.get())};
}

struct test_ca::state {
    key_ptr key;
    x509_ptr cert;
};

test_ca::test_ca() : s_(new state)
{
    try {
        s_->key = new_key();
        cert_plan p{"Talvor Test CA", "", -day, 3650 * day, true, ""};
        s_->cert = make_cert(p, s_->key.get(), nullptr, s_->key.get());
        cert_der_ = der_of(s_->cert.get());
    } catch (...) {
        delete s_;
        throw;
    }
}

test_ca::~test_ca()
{
    delete s_;
}

std::string test_ca::cert_pem() const
{
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, s_->cert.get());
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    std::string out(data, static_cast<std::size_t>(n));
    BIO_free(bio);
    return out;
}

issued_cert test_ca::issue(const std::string& address, cert_kind kind)
{
    key_ptr key = kind == cert_kind::legacy ? new_legacy_key() : new_key();
    cert_plan p{address, "IP:" + address, -day, 365 * day, false, "serverAuth"};
    switch (kind) {
    case cert_kind::legacy:
        p.key_usage = "critical,digitalSignature,keyEncipherment";
        p.digest = EVP_sha1();
        break;
    case cert_kind::valid:
    case cert_kind::self_signed:
        break;
    case cert_kind::wrong_name:
        p.common_name = "wrong-name.invalid";
        p.alt_names = "DNS:wrong-name.invalid,IP:192.0.2.254";
        break;
    case cert_kind::expired:
        p.not_before_s = -60 * day;
        p.not_after_s = -day;
        break;
    case cert_kind::not_yet_valid:
        p.not_before_s = 30 * day;
        p.not_after_s = 400 * day;
        break;
    case cert_kind::wrong_usage:
        p.ext_key_usage = "clientAuth";
        break;
    }
    x509_ptr cert = kind == cert_kind::self_signed ? make_cert(p, key.get(), nullptr, key.get())
                                                   : make_cert(p, key.get(), s_->cert.get(), s_->key.get());
    return {der_of(cert.get()), key_der_of(key.get())};
}

} // namespace talvor::sim
