// The WebSocket reply check on any message, against the reply format read
// the plain way: a reply in that format gives its status and payload for
// its own number and fails for any other; nothing else ever passes.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

#include "protocol/wss_reply.h"

namespace {

struct plain_reply {
    std::uint32_t number;
    int status;
    std::string payload;
};

// Plain decimal digits whose value is at most `max`.
std::optional<unsigned long long> decimal(const std::string& s, unsigned long long max)
{
    if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const std::string digits = s.substr(std::min(s.find_first_not_of('0'), s.size() - 1));
    if (digits.size() > 10)
        return std::nullopt;
    const unsigned long long v = std::stoull(digits);
    if (v > max)
        return std::nullopt;
    return v;
}

// "data:" in any case, the number, a comma, the status, a comma, the payload.
std::optional<plain_reply> read_plainly(const std::string& m)
{
    if (m.size() < 5)
        return std::nullopt;
    std::string prefix = m.substr(0, 5);
    for (char& c : prefix)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto comma1 = m.find(',', 5);
    const auto comma2 = comma1 == std::string::npos ? comma1 : m.find(',', comma1 + 1);
    if (prefix != "data:" || comma2 == std::string::npos)
        return std::nullopt;
    const auto number = decimal(m.substr(5, comma1 - 5), std::numeric_limits<std::uint32_t>::max());
    const auto status = decimal(m.substr(comma1 + 1, comma2 - comma1 - 1), std::numeric_limits<int>::max());
    if (!number || !status)
        return std::nullopt;
    return plain_reply{static_cast<std::uint32_t>(*number), static_cast<int>(*status), m.substr(comma2 + 1)};
}

void check(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const talvor::byte_vector message(data, data + size);
    const auto plain = read_plainly(text);
    auto m = message;
    if (!plain) {
        check(talvor::check_reply(m, 7) == -1);
        return 0;
    }
    check(talvor::check_reply(m, plain->number) == plain->status);
    check(std::string(m.begin(), m.end()) == plain->payload);
    m = message;
    check(talvor::check_reply(m, plain->number + 1) == -1);
    return 0;
}
