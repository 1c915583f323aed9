#include <openssl/pem.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>

#include "transport/conn_sess.h"
#include "transport/path_text.h"
#include "transport/system_trust.h"
#include "transport/tls_checks.h"
#include "transport/user_folder.h"

namespace fs = std::filesystem;

namespace talvor {

namespace {

std::mutex folder_lock;
std::string folder_override;

std::string default_folder() { return path_text(user_folder(user_files::config) / "trusted-units"); }

} // namespace

std::string trusted_folder()
{
    std::lock_guard g(folder_lock);
    return folder_override.empty() ? default_folder() : folder_override;
}

namespace {
bool folder_given()
{
    std::lock_guard g(folder_lock);
    return !folder_override.empty();
}
} // namespace

void set_trusted_folder(std::string folder)
{
    std::lock_guard g(folder_lock);
    folder_override = std::move(folder);
}

std::vector<std::string> trusted_pem_files()
{
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::directory_iterator it(utf8_path(trusted_folder()), ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() == ".pem" && it->is_regular_file(ec))
            files.push_back(path_text(it->path()));
    }
    return files;
}

int trust_certificate(std::span<const std::uint8_t> der)
{
    // A folder given by the caller takes it on every system, so that tests
    // and trials leave the user's own store alone.
    return folder_given() ? add_to_trusted_folder(der) : add_to_user_trust(der);
}

int add_to_trusted_folder(std::span<const std::uint8_t> der)
{
    const unsigned char* p = der.data();
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        d2i_X509(nullptr, &p, static_cast<long>(der.size())), X509_free);
    if (!cert || p != der.data() + der.size())
        return -1;

    // Named by the certificate's digest: trusting it twice keeps one file.
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(der.data(), der.size(), digest);
    std::string name;
    char hex[3];
    for (const unsigned char b : digest) {
        std::snprintf(hex, sizeof hex, "%02x", b);
        name += hex;
    }

    std::error_code ec;
    const fs::path folder = utf8_path(trusted_folder());
    fs::create_directories(folder, ec);
    if (ec)
        return -1;
    const fs::path target = folder / (name + ".pem");
    const fs::path partial = folder / (name + ".tmp");
    std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new_file(path_text(partial).c_str(), "w"), BIO_free);
    if (!out)
        return -1;
    const bool written = PEM_write_bio_X509(out.get(), cert.get()) == 1 && BIO_flush(out.get()) == 1;
    out.reset();
    if (!written) {
        fs::remove(partial, ec);
        return -1;
    }
    fs::rename(partial, target, ec);
    if (ec) {
        fs::remove(partial, ec);
        return -1;
    }
    return 0;
}

} // namespace talvor
