// The JSON reader on any bytes: it gives the tokens jsmn's own driver
// gives, the same text spaced out differently re-reads to the same values,
// and find agrees with for_each_member whatever the case of the key.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "tests/foundation/jsmn_reference.h"
#include "transport/json_parser.h"

using talvor::json_parser;
using talvor::json_type;

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

bool is_leaf(const talvor::json_token& t) { return t.type == json_type::string || t.type == json_type::primitive; }

// Blanks of every kind around each bracket, comma and colon; the bytes of
// strings (quotes included) and primitives stay as they are, and anything
// after a NUL, which the reader never sees, is left out.
std::string spaced_out(const json_parser& p)
{
    std::string out;
    std::size_t pos = 0;
    const auto copy_structure = [&](std::size_t until) {
        for (; pos < until; ++pos) {
            const char c = p.text[pos];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
                continue;
            out += "\r\n\t";
            out += c;
            out += ' ';
        }
    };
    for (const auto& t : p.tokens) {
        if (!is_leaf(t))
            continue;
        const bool quoted = t.type == json_type::string;
        const auto first = static_cast<std::size_t>(t.start - (quoted ? 1 : 0));
        const auto last = static_cast<std::size_t>(t.end + (quoted ? 1 : 0));
        copy_structure(first);
        out += ' '; // two primitives must stay two
        out.append(p.text, first, last - first);
        pos = last;
    }
    copy_structure(std::min(p.text.size(), p.text.find('\0')));
    return out;
}

void check_same_values(const json_parser& a, const json_parser& b)
{
    check(a.tokens.size() == b.tokens.size());
    for (std::size_t i = 0; i < a.tokens.size(); ++i) {
        const auto& x = a.tokens[i];
        const auto& y = b.tokens[i];
        check(x.type == y.type && x.size == y.size);
        if (is_leaf(x))
            check(a.text.compare(x.start, x.end - x.start, b.text, y.start, y.end - y.start) == 0);
        const double u = a.get_number(i);
        const double v = b.get_number(i);
        check(u == v || (u != u && v != v));
    }
}

std::string with_case(std::string s, bool upper)
{
    for (char& c : s) {
        const auto u = static_cast<unsigned char>(c);
        c = static_cast<char>(upper ? std::toupper(u) : std::tolower(u));
    }
    return s;
}

void check_lookups(const json_parser& p)
{
    const std::size_t end = p.end();
    for (std::size_t i = 0; i < end; ++i) {
        const std::size_t next = p.skip(i);
        check(next > i && next <= end);
        if (!p.is(i, json_type::object))
            continue;
        std::vector<std::pair<std::string, std::size_t>> members;
        p.for_each_member(i, [&](const json_parser&, const std::string& key, std::size_t& value) {
            members.emplace_back(key, value);
            return 0;
        });
        for (const auto& [key, value] : members) {
            const std::string lower = with_case(key, false);
            std::size_t first = value;
            for (const auto& [other, at] : members)
                if (with_case(other, false) == lower) {
                    first = at;
                    break;
                }
            check(p.find(i, with_case(key, true)) == first);
            check(p.find(i, lower) == first);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    json_parser p;
    p.text.assign(reinterpret_cast<const char*>(data), size);
    const auto expected = talvor::testing::jsmn_tokens(p.text);
    if (p.parse() != 0) {
        check(expected.empty() && p.tokens.empty());
        return 0;
    }
    check(talvor::testing::same_tokens(p.tokens, expected));

    json_parser again;
    again.text = spaced_out(p);
    check(again.parse() == 0);
    check_same_values(p, again);
    check_lookups(p);
    return 0;
}
