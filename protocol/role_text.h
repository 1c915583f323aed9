#pragma once
// The role an HTTP unit names in its login reply.
#include <string>
#include <string_view>

namespace talvor {

// One NUL byte is "admin" (older firmware); otherwise the first word,
// leading white space skipped, lower-cased.
std::string role_from_reply(std::string_view body);

} // namespace talvor
