#pragma once
// The one conversion from what the user typed to password bytes, used by
// every front end: the single-byte code page Windows-1252, '?' for every
// character it cannot hold. The bytes (not UTF-8) feed the key derivation,
// so the same password gives the same key on every platform.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talvor {

// `typed` is UTF-8; a malformed sequence counts as one character it cannot hold.
std::vector<std::uint8_t> password_bytes(std::string_view typed);

// The code point a Windows-1252 byte stands for (undefined bytes: the C1
// control of the same value), so bytes can travel as text and convert back.
char32_t cp1252_code_point(std::uint8_t byte);
// Overwrites the bytes with zeros in a way the compiler keeps.
void wipe_bytes(void* data, std::size_t size);
void wipe(std::vector<std::uint8_t>& bytes);
void wipe(std::string& text);

} // namespace talvor
