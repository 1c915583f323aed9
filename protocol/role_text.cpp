#include "protocol/role_text.h"

namespace talvor {

namespace {
bool is_role_space(char c)
{
    return c == '\b' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == ' ';
}
} // namespace

std::string role_from_reply(std::string_view body)
{
    if (body.size() == 1 && body[0] == '\0')
        return "admin";
    std::size_t b = 0;
    while (b < body.size() && is_role_space(body[b]))
        ++b;
    std::size_t e = b;
    while (e < body.size() && !is_role_space(body[e]))
        ++e;
    std::string role(body.substr(b, e - b));
    for (auto& c : role)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return role;
}

} // namespace talvor
