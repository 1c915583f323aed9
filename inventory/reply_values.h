#pragma once
// Small helpers the unit readers share for values taken from replies.
#include <cstddef>
#include <optional>
#include <string>

#include "transport/checked_number.h"
#include "transport/json_parser.h"

namespace talvor {

// Replies are shown to the user: bytes outside printable ASCII become '?'.
inline std::string printable_text(std::string text)
{
    for (char& ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x20 || b > 0x7e)
            ch = '?';
    }
    return text;
}

// A primitive's number as T; no value when it is not a primitive or not a
// usable number in T's range.
template <class T>
std::optional<T> reply_number(const json_parser& reply, std::size_t token)
{
    if (!reply.is(token, json_type::primitive))
        return std::nullopt;
    return checked_truncate<T>(reply.get_number(token));
}

} // namespace talvor
