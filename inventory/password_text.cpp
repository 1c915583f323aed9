#include "inventory/password_text.h"

#include <array>

namespace talvor {

namespace {

// Code points of Windows-1252 bytes 0x80..0x9F. The five bytes the code page
// leaves undefined map to the C1 controls of the same value, as Windows does.
constexpr std::array<char32_t, 32> high_table = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::uint8_t to_cp1252(char32_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<std::uint8_t>(c);
    for (std::size_t i = 0; i < high_table.size(); ++i)
        if (high_table[i] == c)
            return static_cast<std::uint8_t>(0x80 + i);
    return '?';
}

// Decodes one UTF-8 sequence at text[i]; advances i. Returns U+FFFD (which
// the code page cannot hold) for malformed, overlong or surrogate forms.
char32_t next_code_point(std::string_view text, std::size_t& i)
{
    const auto b0 = static_cast<unsigned char>(text[i++]);
    if (b0 < 0x80)
        return b0;
    int extra;
    char32_t c;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1, c = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2, c = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3, c = b0 & 0x07, min = 0x10000;
    } else {
        return 0xFFFD;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= text.size())
            return 0xFFFD;
        const auto b = static_cast<unsigned char>(text[i]);
        if ((b & 0xC0) != 0x80)
            return 0xFFFD; // the byte starts the next character
        c = (c << 6) | (b & 0x3F);
        ++i;
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0xFFFD;
    return c;
}

} // namespace

char32_t cp1252_code_point(std::uint8_t byte)
{
    return byte >= 0x80 && byte < 0xA0 ? high_table[byte - 0x80] : byte;
}

std::vector<std::uint8_t> password_bytes(std::string_view typed)
{
    std::vector<std::uint8_t> out;
    out.reserve(typed.size());
    for (std::size_t i = 0; i < typed.size();)
        out.push_back(to_cp1252(next_code_point(typed, i)));
    return out;
}

void wipe_bytes(void* data, std::size_t size)
{
    volatile auto* p = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i)
        p[i] = 0;
}

// Both grow to their capacity first, so bytes left there by an earlier
// shrink are wiped too.
void wipe(std::vector<std::uint8_t>& bytes)
{
    bytes.resize(bytes.capacity());
    wipe_bytes(bytes.data(), bytes.size());
    bytes.clear();
}

void wipe(std::string& text)
{
    text.resize(text.capacity());
    wipe_bytes(text.data(), text.size());
    text.clear();
}

} // namespace talvor
