#include "simulator/multipart.h"

namespace talvor::sim {

std::optional<std::vector<std::string>> split_multipart(std::string_view body, std::size_t max_parts)
{
    constexpr std::size_t boundary_len = 8 + 16;
    if (body.size() < boundary_len || body.substr(0, 8) != "--------")
        return std::nullopt;
    std::string_view boundary = body.substr(0, boundary_len);
    for (char c : boundary.substr(8))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return std::nullopt;
    std::string head = std::string(boundary) + "\r\n\r\n";
    std::string tail = "\r\n" + std::string(boundary) + "--\r\n";
    std::string separator = "\r\n" + std::string(boundary) + "\r\n\r\n";
    if (body.size() < head.size() + tail.size() || body.substr(0, head.size()) != head ||
        body.substr(body.size() - tail.size()) != tail)
        return std::nullopt;
    std::string_view inner = body.substr(head.size(), body.size() - head.size() - tail.size());
    std::vector<std::string> parts;
    while (parts.size() + 1 < max_parts) {
        auto at = inner.find(separator);
        if (at == std::string_view::npos)
            break;
        parts.emplace_back(inner.substr(0, at));
        inner.remove_prefix(at + separator.size());
    }
    parts.emplace_back(inner);
    return parts;
}

} // namespace talvor::sim
