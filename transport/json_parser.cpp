#include "transport/json_parser.h"

#include <cctype>
#include <charconv>
#include <cstddef>
#include <limits>

#define JSMN_STATIC
#include <jsmn.h>

namespace talvor {

namespace {

constexpr std::size_t initial_tokens = 8192;

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
    std::vector<jsmntok_t> raw(initial_tokens, jsmntok_t{});
    jsmn_parser p;
    jsmn_init(&p);
    int r;
    // The same parser resumes after each growth: jsmn keeps its position
    // and the tokens written so far, so nothing is scanned twice.
    while ((r = jsmn_parse(&p, text.data(), text.size(), raw.data(), static_cast<unsigned>(raw.size()))) ==
           JSMN_ERROR_NOMEM) {
        if (raw.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()) / 2)
            return -1;
        raw.resize(raw.size() * 2, jsmntok_t{});
    }
    // An empty text yields no token: there is no reply to read.
    if (r <= 0) {
        tokens.clear();
        return -1;
    }
    tokens.resize(static_cast<std::size_t>(r));
    for (std::size_t i = 0; i < tokens.size(); ++i)
        tokens[i] = json_token{static_cast<json_type>(raw[i].type), raw[i].start, raw[i].end, raw[i].size};
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
