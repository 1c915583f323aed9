#pragma once
// Writing JSON text: reports and talvorctl's output.
#include <string>
#include <string_view>

namespace talvor {

// The JSON string literal (quotes included) of arbitrary bytes. Bytes that
// are not valid UTF-8 become U+FFFD so the output stays valid JSON.
std::string json_quote(std::string_view text);

} // namespace talvor
