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

// Whether the bytes hold one object of the kind, read as PEM (text that
// has a BEGIN line) or as DER spanning the whole file.
template <class T>
bool holds(std::span<const std::uint8_t> bytes, T* (*pem)(BIO*, T**, pem_password_cb*, void*),
           T* (*der)(T**, const unsigned char**, long), void (*release)(T*))
{
    T* object = nullptr;
    if (mentions(bytes, "-----BEGIN ")) {
        auto bio = memory_bio(bytes);
        object = bio ? pem(bio.get(), nullptr, no_passphrase, nullptr) : nullptr;
    } else {
        const unsigned char* p = bytes.data();
        object = der(nullptr, &p, static_cast<long>(bytes.size()));
        if (object && p != bytes.data() + bytes.size()) {
            release(object);
            object = nullptr;
        }
    }
    const bool ok = object != nullptr;
    if (object)
        release(object);
    ERR_clear_error();
    return ok;
}

} // namespace

std::string certificate_file_problem(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty())
        return "empty";
    return holds<X509>(bytes, PEM_read_bio_X509, d2i_X509, X509_free) ? "" : "not a PEM or DER X.509 certificate";
}

std::string key_file_problem(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty())
        return "empty";
    if (mentions(bytes, "-----BEGIN ") && mentions(bytes, "ENCRYPTED"))
        return "an encrypted private key: the units take keys without a passphrase";
    return holds<EVP_PKEY>(bytes, PEM_read_bio_PrivateKey, d2i_AutoPrivateKey, EVP_PKEY_free)
               ? ""
               : "not a PEM or DER private key";
}

} // namespace talvor
