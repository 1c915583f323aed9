#include "transport/json_parser.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstddef>
#include <limits>
#include <string_view>

// jsmn's own string and primitive scanners do the lexing; the walk over
// brackets, commas and colons is ours (see parse()). Its whole-text driver
// is left unused.
#define JSMN_STATIC
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#include <jsmn.h>
#pragma GCC diagnostic pop

#include "transport/json_quote.h"

namespace talvor {

namespace {

// Every container is one token, and every other value follows a bracket,
// comma or colon or opens the text, so this bounds a well-formed text's
// tokens (counting inside strings only overshoots). For the small replies
// of a thousand units at once that is far less than a fixed floor; a large
// reply takes one token per two characters, which untouched pages make
// cheap and which spares it the counting pass. Odd non-strict texts grow.
std::size_t token_bound(std::string_view text)
{
    if (text.size() >= 64 * 1024)
        return text.size() / 2 + 1;
    std::size_t containers = 0, separators = 0;
    for (const char c : text) {
        containers += c == '{' || c == '[';
        separators += c == ',' || c == ':';
    }
    return 2 * containers + separators + 1;
}

bool is_key(const json_token& t) { return t.type == json_type::string && t.size == 1; }

bool iequal_ascii(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (std::tolower(x) != std::tolower(y))
            return false;
    }
    return true;
}

} // namespace

int json_parser::parse()
{
    // The same tokens as jsmn's non-strict driver gives, in one pass. That
    // driver finds the container a bracket or comma belongs to by scanning
    // back over every earlier token, which costs hours on a 16 MiB reply of
    // nested or wide arrays; here the open containers sit on a stack.
    tokens.clear();
    if (text.size() >= static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return -1; // offsets must fit a token's int
    tokens.reserve(token_bound(text));
    std::vector<int> open; // containers not yet closed, innermost last
    int super = -1;        // the token a new value counts towards
    const char* js = text.data();
    const std::size_t len = text.size();
    const auto fail = [this] {
        tokens.clear();
        return -1;
    };
    const auto count_in_super = [&] {
        if (super != -1)
            ++tokens[static_cast<std::size_t>(super)].size;
    };
    // Scans one string or primitive at `pos` with jsmn into a token of its own.
    const auto lex = [&](std::size_t& pos, bool string) {
        jsmn_parser one{static_cast<unsigned>(pos), 0, -1};
        jsmntok_t t{};
        const int r = string ? jsmn_parse_string(&one, js, len, &t, 1) : jsmn_parse_primitive(&one, js, len, &t, 1);
        if (r < 0)
            return false;
        pos = one.pos;
        tokens.push_back(json_token{static_cast<json_type>(t.type), t.start, t.end, t.size});
        count_in_super();
        return true;
    };
    for (std::size_t pos = 0; pos < len && js[pos] != '\0'; ++pos) {
        switch (const char c = js[pos]) {
        case '{':
        case '[':
            count_in_super();
            tokens.push_back(json_token{c == '{' ? json_type::object : json_type::array, static_cast<int>(pos), -1, 0});
            super = static_cast<int>(tokens.size()) - 1;
            open.push_back(super);
            break;
        case '}':
        case ']':
            if (open.empty() || tokens[static_cast<std::size_t>(open.back())].type !=
                                    (c == '}' ? json_type::object : json_type::array))
                return fail();
            tokens[static_cast<std::size_t>(open.back())].end = static_cast<int>(pos) + 1;
            open.pop_back();
            super = open.empty() ? -1 : open.back();
            break;
        case '"':
            if (!lex(pos, true))
                return fail();
            break;
        case '\t':
        case '\r':
        case '\n':
        case ' ':
            break;
        case ':':
            super = static_cast<int>(tokens.size()) - 1;
            break;
        case ',':
            // After a member's value the next one counts towards the object
            // again; jsmn leaves `super` alone when nothing is open.
            if (super != -1 && !open.empty() && tokens[static_cast<std::size_t>(super)].type != json_type::array &&
                tokens[static_cast<std::size_t>(super)].type != json_type::object)
                super = open.back();
            break;
        default:
            // Non-strict: every unquoted value is a primitive.
            if (!lex(pos, false))
                return fail();
            break;
        }
    }
    // An unclosed container is a truncated reply; an empty text yields no
    // token: there is no reply to read.
    if (!open.empty() || tokens.empty())
        return fail();
    return 0;
}

std::unique_ptr<json_parser> json_parser::from(std::string body)
{
    auto parser = std::make_unique<json_parser>();
    parser->text = std::move(body);
    if (parser->parse() != 0)
        return nullptr;
    return parser;
}

std::size_t json_parser::find(std::size_t object, std::string_view key) const
{
    const std::size_t n = end();
    if (!is(object, json_type::object))
        return n;
    std::size_t p = object + 1;
    for (int i = 0; i < tokens[object].size; ++i) {
        if (p >= n || !is_key(tokens[p]))
            return n;
        const json_token& k = tokens[p];
        if (iequal_ascii(std::string_view(text).substr(k.start, k.end - k.start), key))
            return p + 1;
        p = skip(p + 1);
    }
    return n;
}

std::size_t json_parser::skip(std::size_t token) const
{
    // Walks with an explicit stack instead of recursion: a reply nested
    // millions deep must not overflow the worker's stack.
    struct frame {
        int left;
        bool object;
    };
    const std::size_t n = end();
    std::vector<frame> open;
    std::size_t p = token;
    for (;;) {
        if (p >= n)
            return n;
        const json_token& t = tokens[p];
        switch (t.type) {
        case json_type::object:
        case json_type::array:
            open.push_back({t.size, t.type == json_type::object});
            break;
        case json_type::string:
        case json_type::primitive:
            break;
        default:
            return n;
        }
        ++p;
        // Find the next value still to pass, closing finished containers.
        for (;;) {
            if (open.empty())
                return p;
            frame& f = open.back();
            if (f.left <= 0) {
                open.pop_back();
                continue;
            }
            if (p >= n)
                return n;
            --f.left;
            if (f.object) {
                if (!is_key(tokens[p]))
                    return n;
                ++p;
            }
            break;
        }
    }
}

int json_parser::for_each_member(std::size_t object, const member_callback& callback) const
{
    const std::size_t n = end();
    if (!is(object, json_type::object))
        return -1;
    std::size_t p = object + 1;
    for (int i = 0; i < tokens[object].size && p < n; ++i) {
        if (!is_key(tokens[p]))
            return -1;
        const std::string key = text.substr(tokens[p].start, tokens[p].end - tokens[p].start);
        std::size_t value = p + 1;
        if (const int r = callback(*this, key, value); r != 0)
            return r;
        p = skip(value);
    }
    return 0;
}

std::string json_parser::get_string(std::size_t token, int expected_size) const
{
    if (!is(token, json_type::string) || tokens[token].size != expected_size)
        return {};
    const json_token& t = tokens[token];
    return text.substr(t.start, t.end - t.start);
}

namespace {

int hex4(std::string_view s, std::size_t at)
{
    if (at + 4 > s.size())
        return -1;
    int v = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
        const char c = s[i];
        const int d = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
        if (d < 0)
            return -1;
        v = v * 16 + d;
    }
    return v;
}

// The text between a string's quotes with its escapes decoded.
std::string unescaped(std::string_view s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 >= s.size()) {
            out += s[i];
            continue;
        }
        const char e = s[++i];
        switch (e) {
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'u': {
            int c = hex4(s, i + 1);
            if (c < 0) {
                out += "\\u";
                break;
            }
            i += 4;
            if (c >= 0xD800 && c < 0xDC00 && i + 2 < s.size() && s[i + 1] == '\\' && s[i + 2] == 'u') {
                const int low = hex4(s, i + 3);
                if (low >= 0xDC00 && low < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    i += 6;
                }
            }
            append_utf8(out, c >= 0xD800 && c < 0xE000 ? 0xFFFD : static_cast<char32_t>(c));
            break;
        }
        default:
            out += e; // \" \\ \/
        }
    }
    return out;
}

} // namespace

std::string json_parser::get_text(std::size_t token) const
{
    if (!is(token, json_type::string))
        return {};
    const json_token& t = tokens[token];
    return unescaped(std::string_view(text).substr(t.start, t.end - t.start));
}

double json_parser::get_number(std::size_t token) const
{
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    if (!is(token, json_type::primitive) || tokens[token].size != 0)
        return nan;
    const json_token& t = tokens[token];
    std::string s = text.substr(t.start, t.end - t.start);
    if (s.empty() || std::isspace(static_cast<unsigned char>(s[0])))
        return nan;
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (s == "null" || s == "false")
        return 0.0;
    if (s == "true")
        return 1.0;
    // from_chars, unlike strtod, ignores the locale a GUI may have set.
    double v = 0.0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || ptr != s.data() + s.size())
        return nan;
    return v;
}

} // namespace talvor
