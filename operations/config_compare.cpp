#include "operations/config_compare.h"

#include <algorithm>
#include <set>
#include <utility>

#include "transport/json_parser.h"

namespace talvor {

namespace {

// Deeper than this a subtree is compared as one value: a unit's reply
// nested without end must not exhaust the worker's stack.
constexpr int deepest = 32;

// The token's JSON text without white space outside strings.
std::string compact(const json_parser& p, std::size_t t)
{
    const json_token& k = p.tokens[t];
    const std::string_view raw = std::string_view(p.text).substr(k.start, k.end - k.start);
    if (k.type == json_type::string)
        return "\"" + std::string(raw) + "\"";
    std::string out;
    bool quoted = false, escaped = false;
    for (char c : raw) {
        if (quoted) {
            escaped = !escaped && c == '\\';
            quoted = escaped || c != '"';
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            continue;
        } else {
            quoted = c == '"';
        }
        out += c;
    }
    return out;
}

// The members of an object (raw key, value token) or the elements of an
// array (index, value token), in order; a repeated key counts once.
std::vector<std::pair<std::string, std::size_t>> children(const json_parser& p, std::size_t t)
{
    std::vector<std::pair<std::string, std::size_t>> out;
    if (p.is(t, json_type::object)) {
        std::set<std::string> seen;
        p.for_each_member(t, [&](const json_parser&, const std::string& key, std::size_t& value) {
            if (seen.insert(key).second)
                out.emplace_back(key, value);
            return 0;
        });
    } else {
        std::size_t v = t + 1;
        for (int i = 0; i < p.tokens[t].size && v < p.end(); ++i, v = p.skip(v))
            out.emplace_back(std::to_string(i), v);
    }
    return out;
}

// A path step as a JSON Pointer writes it.
std::string pointer_step(const std::string& key)
{
    std::string out = "/";
    for (char c : key)
        out += c == '~' ? std::string("~0") : c == '/' ? std::string("~1") : std::string(1, c);
    return out;
}

struct walker {
    const json_parser& unit;
    const json_parser& file;
    std::vector<config_difference> out;

    void differ(const std::string& path, std::string u, std::string f)
    {
        out.push_back({{}, path.empty() ? "/" : path, std::move(u), std::move(f)});
    }

    void walk(std::size_t u, std::size_t f, const std::string& path, int depth)
    {
        const json_type type = unit.tokens[u].type;
        const bool container = type == json_type::object || type == json_type::array;
        if (!container || type != file.tokens[f].type || depth >= deepest) {
            std::string a = compact(unit, u), b = compact(file, f);
            if (a != b)
                differ(path, std::move(a), std::move(b));
            return;
        }
        const auto ours = children(unit, u);
        const auto theirs = children(file, f);
        auto lookup = [](const auto& list, const std::string& key) {
            return std::find_if(list.begin(), list.end(), [&](const auto& c) { return c.first == key; });
        };
        for (const auto& [key, value] : theirs) {
            const auto mine = lookup(ours, key);
            if (mine == ours.end())
                differ(path + pointer_step(key), {}, compact(file, value));
            else
                walk(mine->second, value, path + pointer_step(key), depth + 1);
        }
        for (const auto& [key, value] : ours)
            if (lookup(theirs, key) == theirs.end())
                differ(path + pointer_step(key), compact(unit, value), {});
    }
};

} // namespace

std::optional<std::vector<config_difference>> compare_config(std::string_view unit, std::string_view file)
{
    const auto u = json_parser::from(std::string(unit));
    const auto f = json_parser::from(std::string(file));
    if (!u || !f || !u->is(json_parser::root, json_type::object) || !f->is(json_parser::root, json_type::object))
        return std::nullopt;
    walker w{*u, *f, {}};
    w.walk(json_parser::root, json_parser::root, "", 0);
    return std::move(w.out);
}

std::string differences_text(std::size_t count)
{
    if (count == 0)
        return "no key differs";
    return std::to_string(count) + (count == 1 ? " key differs" : " keys differ");
}

} // namespace talvor
