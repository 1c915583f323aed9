// Address list files on any bytes: a list that reads re-reads to the same
// addresses once written out again, Windows line ends count the same lines,
// and everything before a reported bad line reads without error.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "inventory/address_list.h"

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

talvor::address_list_result read(const std::string& text)
{
    return talvor::parse_address_list(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// Dotted text for IPv4-mapped addresses, eight hex groups for the rest,
// with blanks and comments of every kind between them.
std::string written_out(const std::vector<talvor::ip_address>& addresses)
{
    static const std::uint8_t mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    static const char* const separators[] = {"\n", " ", "\t#a comment 1.2.3.x\r\n", "\f\v", "\r\n"};
    std::string out;
    std::size_t n = 0;
    for (const auto& a : addresses) {
        char text[48];
        if (std::equal(a.begin(), a.begin() + 12, mapped))
            std::snprintf(text, sizeof text, "%u.%u.%u.%u", a[12], a[13], a[14], a[15]);
        else
            std::snprintf(text, sizeof text, "%x:%x:%x:%x:%x:%x:%x:%x", a[0] << 8 | a[1], a[2] << 8 | a[3],
                          a[4] << 8 | a[5], a[6] << 8 | a[7], a[8] << 8 | a[9], a[10] << 8 | a[11],
                          a[12] << 8 | a[13], a[14] << 8 | a[15]);
        out += text;
        out += separators[n++ % std::size(separators)];
    }
    return out;
}

std::string with_crlf(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto r = read(text);
    const auto crlf = read(with_crlf(text));
    check(crlf.error_line == r.error_line && crlf.addresses == r.addresses);
    if (r.error_line == 0) {
        const auto again = read(written_out(r.addresses));
        check(again.error_line == 0 && again.addresses == r.addresses);
        return 0;
    }
    check(r.addresses.empty());
    check(r.error_line >= 1 && r.error_line <= 1 + std::count(text.begin(), text.end(), '\n'));
    std::size_t cut = 0;
    for (int line = 1; line < r.error_line; ++line)
        cut = text.find('\n', cut) + 1;
    check(read(text.substr(0, cut)).error_line == 0);
    return 0;
}
