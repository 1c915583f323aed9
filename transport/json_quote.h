#pragma once
// Writing JSON text: reports and talvorctl's output.
#include <string>
#include <string_view>

namespace talvor {

// The JSON string literal (quotes included) of arbitrary bytes. Bytes that
// are not valid UTF-8 become U+FFFD so the output stays valid JSON.
std::string json_quote(std::string_view text);

// The text with each byte that is not valid UTF-8 replaced by U+FFFD, as
// json_quote does: other UTF-8 documents then hold the same values.
std::string valid_utf8(std::string_view text);

// Appends the UTF-8 form of one code point (below 0x110000).
void append_utf8(std::string& out, char32_t code_point);

} // namespace talvor
