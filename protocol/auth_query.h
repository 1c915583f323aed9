#pragma once
// Small text rules the HTTP client applies to paths and cookies.
#include <optional>
#include <string>
#include <string_view>

namespace talvor {

// Puts the auth token first in the query: "p" -> "p?auth=T",
// "p?a=1" -> "p?auth=T&a=1". Without a token the path is unchanged.
std::string with_auth_query(std::string path, const std::optional<std::string>& token);

// True when the csrf token holds "00" at an even offset; the unit then wants
// a fresh login before it accepts further POSTs.
bool csrf_wants_renewal(std::string_view csrf);

} // namespace talvor
