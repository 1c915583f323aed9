#pragma once
// A JSON reply and the flat jsmn token array over it. Reading walks the
// tokens; no tree is ever built. Token positions index `tokens`; end() (one
// past the last token) is what every failed lookup returns.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace talvor {

// The fields of jsmn's jsmntok_t (without parent links), so callers need
// not include jsmn.
enum class json_type : int { undefined = 0, object = 1, array = 2, string = 3, primitive = 4 };
struct json_token {
    json_type type;
    int start;
    int end;
    int size;
};

class json_parser {
public:
    using member_callback = std::function<int(const json_parser&, const std::string& key, std::size_t& value)>;

    std::string text;               // the reply exactly as received
    std::vector<json_token> tokens; // exactly as many as found, after parse()

    // 0 on success, -1 when the text is not JSON.
    int parse();
    // Parses `body`; null when it is not JSON (callers then have no reply).
    static std::unique_ptr<json_parser> from(std::string body);

    std::size_t end() const { return tokens.size(); }
    static constexpr std::size_t root = 0;

    std::size_t find(std::size_t object, std::string_view key) const;
    std::size_t skip(std::size_t token) const;
    int for_each_member(std::size_t object, const member_callback& callback) const;
    std::string get_string(std::size_t token, int expected_size = 0) const;
    // A string token's text with its escapes decoded (a \\u pair of
    // surrogates joined; a broken escape kept as written); empty for any
    // other token. get_string keeps the text exactly as sent.
    std::string get_text(std::size_t token) const;
    double get_number(std::size_t token) const;

    const json_token* at(std::size_t token) const { return token < tokens.size() ? &tokens[token] : nullptr; }
    bool is(std::size_t token, json_type type) const { return token < tokens.size() && tokens[token].type == type; }
};

using json_ptr = std::unique_ptr<json_parser>;

} // namespace talvor
