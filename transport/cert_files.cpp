#include "transport/cert_files.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>
#include <string_view>

namespace talvor {

namespace {

struct bio_free {
    void operator()(BIO* b) const { BIO_free(b); }
};

std::unique_ptr<BIO, bio_free> memory_bio(std::span<const std::uint8_t> bytes)
{
    return std::unique_ptr<BIO, bio_free>(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

bool mentions(std::span<const std::uint8_t> bytes, std::string_view text)
{
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()).find(text) !=
           std::string_view::npos;
}

// A passphrase is never asked for: the units take keys without one.
int no_passphrase(char*, int, int, void*) { return -1; }

} // namespace

std::string certificate_file_problem(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty())
        return "empty";
    bool ok = false;
    if (mentions(bytes, "-----BEGIN ")) {
        auto bio = memory_bio(bytes);
        X509* cert = bio ? PEM_read_bio_X509(bio.get(), nullptr, no_passphrase, nullptr) : nullptr;
        ok = cert != nullptr;
        X509_free(cert);
    } else {
        // DER: one certificate that spans the whole file.
        const unsigned char* p = bytes.data();
        X509* cert = d2i_X509(nullptr, &p, static_cast<long>(bytes.size()));
        ok = cert && p == bytes.data() + bytes.size();
        X509_free(cert);
    }
    ERR_clear_error();
    return ok ? "" : "not a PEM or DER X.509 certificate";
}

std::string key_file_problem(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty())
        return "empty";
    bool ok = false;
    if (mentions(bytes, "-----BEGIN ")) {
        if (mentions(bytes, "ENCRYPTED"))
            return "an encrypted private key: the units take keys without a passphrase";
        auto bio = memory_bio(bytes);
        EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, no_passphrase, nullptr) : nullptr;
        ok = key != nullptr;
        EVP_PKEY_free(key);
    } else {
        const unsigned char* p = bytes.data();
        EVP_PKEY* key = d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(bytes.size()));
        ok = key && p == bytes.data() + bytes.size();
        EVP_PKEY_free(key);
    }
    ERR_clear_error();
    return ok ? "" : "not a PEM or DER private key";
}

} // namespace talvor
