// Password bytes: Windows-1252 with '?' for what it cannot hold.
#include <gtest/gtest.h>

#include "inventory/password_text.h"

namespace talvor::test {
namespace {

std::vector<std::uint8_t> b(std::initializer_list<int> v)
{
    std::vector<std::uint8_t> out;
    for (int x : v)
        out.push_back(static_cast<std::uint8_t>(x));
    return out;
}

TEST(password_text_test, converts_to_windows_1252)
{
    EXPECT_EQ(password_bytes("abc"), b({'a', 'b', 'c'}));
    EXPECT_EQ(password_bytes(""), b({}));
    EXPECT_EQ(password_bytes("\u00e9\u00ff\u00a0"), b({0xE9, 0xFF, 0xA0}));             // Latin-1 range
    EXPECT_EQ(password_bytes("\u20ac\u2122\u0178\u017e"), b({0x80, 0x99, 0x9F, 0x9E})); // the 0x80..0x9F block
    EXPECT_EQ(password_bytes("\u0100\u4e2d\U0001F600x"), b({'?', '?', '?', 'x'}));     // not in the code page
}

TEST(password_text_test, malformed_utf8_never_passes_through)
{
    EXPECT_EQ(password_bytes("\xC3"), b({'?'}));                   // cut sequence
    EXPECT_EQ(password_bytes("\xC0\xA9"), b({'?'}));               // overlong form of U+0029
    EXPECT_EQ(password_bytes("\xED\xA0\x80"), b({'?'}));           // surrogate
    EXPECT_EQ(password_bytes("\x80z"), b({'?', 'z'}));             // stray continuation
    EXPECT_EQ(password_bytes("\xE2\x82z"), b({'?', 'z'}));         // the next character survives
}

TEST(password_text_test, wipe_clears_bytes_left_beyond_the_size)
{
    std::vector<std::uint8_t> v = password_bytes("long password text");
    const std::uint8_t* data = v.data();
    v.resize(4);
    wipe(v);
    EXPECT_TRUE(v.empty());
    ASSERT_GE(v.capacity(), 18u);
    ASSERT_EQ(v.data(), data);
    // The storage is still the vector's; read it as raw memory.
    const volatile std::uint8_t* raw = data;
    for (int i = 0; i < 18; ++i)
        EXPECT_EQ(raw[i], 0) << "byte " << i;
}

} // namespace
} // namespace talvor::test
