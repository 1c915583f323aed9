#include "protocol/wss_reply.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace talvor {

std::uint32_t next_request_number(std::uint32_t counter)
{
    return counter < last_request_number ? counter + 1 : 1;
}

namespace {

// Plain decimal digits only, filling the whole field, within range.
template <class T>
bool read_decimal(const char* first, const char* last, T& out)
{
    if (first == last || *first < '0' || *first > '9')
        return false;
    auto [p, ec] = std::from_chars(first, last, out);
    return ec == std::errc() && p == last;
}

bool lower_equal(std::uint8_t c, char lower)
{
    return c == static_cast<std::uint8_t>(lower) || c == static_cast<std::uint8_t>(lower - 'a' + 'A');
}

} // namespace

int check_reply(byte_vector& message, std::uint32_t id)
{
    const auto comma1 = std::find(message.begin(), message.end(), ',');
    if (comma1 == message.end())
        return -1;
    const auto comma2 = std::find(comma1 + 1, message.end(), ',');
    if (comma2 == message.end())
        return -1;
    static constexpr char prefix[] = "data:";
    constexpr std::size_t plen = sizeof prefix - 1;
    if (message.size() < plen + 1)
        return -1;
    for (std::size_t i = 0; i < plen; ++i)
        if (prefix[i] == ':' ? message[i] != ':' : !lower_equal(message[i], prefix[i]))
            return -1;

    const char* base = reinterpret_cast<const char*>(message.data());
    const char* num_first = base + plen;
    const char* num_last = base + (comma1 - message.begin());
    const char* status_last = base + (comma2 - message.begin());
    std::uint32_t number = 0;
    int status = 0;
    if (!read_decimal(num_first, num_last, number) || !read_decimal(num_last + 1, status_last, status))
        return -1;

    message.erase(message.begin(), comma2 + 1);
    return number == id ? status : -1;
}

} // namespace talvor
