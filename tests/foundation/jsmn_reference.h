#pragma once
// jsmn's own whole-text driver, which the reader must agree with token for
// token on every text it can afford (it is quadratic on hostile shapes).
#include "transport/json_parser.h"

#include <string>
#include <vector>

#define JSMN_STATIC
#include <jsmn.h>

namespace talvor::testing {

// The tokens jsmn gives, or an empty list where it refuses the text.
inline std::vector<json_token> jsmn_tokens(const std::string& text)
{
    // Every token takes at least one character: jsmn never runs short.
    std::vector<jsmntok_t> raw(text.size() + 1);
    jsmn_parser p;
    jsmn_init(&p);
    const int r = jsmn_parse(&p, text.data(), text.size(), raw.data(), static_cast<unsigned>(raw.size()));
    std::vector<json_token> out;
    for (int i = 0; i < r; ++i)
        out.push_back(json_token{static_cast<json_type>(raw[i].type), raw[i].start, raw[i].end, raw[i].size});
    return out;
}

inline bool same_tokens(const std::vector<json_token>& a, const std::vector<json_token>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].type != b[i].type || a[i].start != b[i].start || a[i].end != b[i].end || a[i].size != b[i].size)
            return false;
    return true;
}

} // namespace talvor::testing
