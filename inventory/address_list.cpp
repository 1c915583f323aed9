#include "inventory/address_list.h"

#include <string_view>

#include "inventory/address_entry.h"
#include "transport/path_text.h"

namespace talvor {

namespace {
bool is_space(std::uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
} // namespace

address_list_result parse_address_list(std::span<const std::uint8_t> bytes)
{
    address_list_result r;
    int line = 1;
    std::size_t i = 0;
    // The byte-order mark Windows' editors put before UTF-8 text.
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        i = 3;
    while (i < bytes.size()) {
        const std::uint8_t c = bytes[i];
        if (is_space(c)) {
            if (c == '\n')
                ++line;
            ++i;
            continue;
        }
        if (c == '#') {
            // The line feed that ends the comment is counted by the next pass.
            while (i < bytes.size() && bytes[i] != '\n')
                ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < bytes.size() && !is_space(bytes[i]))
            ++i;
        const std::string_view item(reinterpret_cast<const char*>(bytes.data() + start), i - start);
        auto address = parse_address_item(item);
        if (!address) {
            r.addresses.clear();
            r.error_line = line;
            return r;
        }
        r.addresses.push_back(*address);
    }
    return r;
}

std::string address_list_heading(const std::filesystem::path& path)
{
    const std::string full = path_text(path);
#ifdef _WIN32
    const auto cut = full.find_last_of("\\/");
#else
    const auto cut = full.find_last_of('/');
#endif
    const std::string name = cut == std::string::npos ? full : full.substr(cut + 1);
    return "Address List \"" + name + "\"";
}

} // namespace talvor
