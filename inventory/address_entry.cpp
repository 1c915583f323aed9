#include "inventory/address_entry.h"

#include <cstring>

#include "transport/socket_calls.h"

namespace talvor {

namespace {
bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
} // namespace

std::optional<ip_address> parse_address_item(std::string_view item)
{
    // A NUL inside the item would end the text early for the system's reader and let
    // "1.2.3.4<NUL>junk" through as 1.2.3.4.
    if (item.empty() || item.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::string text;
    if (item.find('.') != std::string_view::npos)
        text = "::ffff:";
    text += item;
    ip_address out{};
    if (!ipv6_address_from_text(text.c_str(), out))
        return std::nullopt;
    return out;
}

std::optional<ip_address> parse_address_box(std::string_view text, bool& empty)
{
    while (!text.empty() && is_space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_space(text.back()))
        text.remove_suffix(1);
    empty = text.empty();
    if (empty)
        return std::nullopt;
    return parse_address_item(text);
}

} // namespace talvor
