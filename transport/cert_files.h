#pragma once
// What a certificate or key file must hold before it goes to units: a unit
// given anything else as its TLS certificate may not be reachable again.
// The files are still sent byte for byte as they are.
#include <cstdint>
#include <span>
#include <string>

namespace talvor {

// Empty when `bytes` hold an X.509 certificate, in PEM or as DER; else why not.
std::string certificate_file_problem(std::span<const std::uint8_t> bytes);
// Empty when `bytes` hold an unencrypted private key, in PEM or as DER;
// else why not.
std::string key_file_problem(std::span<const std::uint8_t> bytes);

} // namespace talvor
