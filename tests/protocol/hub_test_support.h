#pragma once
// Small helpers shared by the client tests.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

#include "protocol/key_derivation.h"
#include "transport/conn_sess.h"

namespace talvor::test {

inline ip_address v4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d)
{
    return ip_address{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, a, b, c, d};
}

inline byte_vector bytes_of(std::string_view s) { return byte_vector(s.begin(), s.end()); }
inline std::string text_of(const byte_vector& b) { return std::string(b.begin(), b.end()); }

// A fresh, empty folder under the system's temporary folder, this
// process's own.
inline std::filesystem::path fresh_folder(const std::string& name)
{
    const auto p = std::filesystem::temp_directory_path() / ("talvor-protocol-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(p);
    std::filesystem::create_directories(p);
    return p;
}

// `text` is `prefix` followed by exactly `digits` lower-case hex digits.
inline bool is_prefixed_hex(std::string_view text, std::string_view prefix, std::size_t digits)
{
    if (!text.starts_with(prefix) || text.size() != prefix.size() + digits)
        return false;
    return text.substr(prefix.size()).find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

inline std::string pass_hex(std::string_view password, std::string_view salt, std::string_view challenge)
{
    return hex_lower(derive_f(derive_f(password, salt), challenge));
}

} // namespace talvor::test
