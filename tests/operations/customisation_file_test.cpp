// Customization file checks and the removal file.
#include <gtest/gtest.h>

#include "operations/customisation_file.h"

namespace talvor::test {
namespace {

// A file whose check word is computed over bytes 0 to L - 5, as the units
// build them; `stored_length` and `version` may then be spoiled.
byte_vector cst(std::uint32_t length, std::size_t trailing = 0, std::uint8_t version = 1,
                std::uint32_t stored_length = 0)
{
    byte_vector f{0x25, 0x5A, 0x54, 0x43};
    const std::uint32_t field = stored_length ? stored_length : length;
    for (int s = 0; s < 32; s += 8)
        f.push_back(static_cast<std::uint8_t>(field >> s));
    f.push_back(version);
    while (f.size() < length - 4)
        f.push_back(static_cast<std::uint8_t>(f.size() * 37));
    const std::uint32_t check = ~word_crc(f);
    for (int s = 0; s < 32; s += 8)
        f.push_back(static_cast<std::uint8_t>(check >> s));
    f.insert(f.end(), trailing, 0xA5);
    return f;
}

byte_vector truncated(byte_vector f, std::size_t size)
{
    f.resize(size);
    return f;
}

byte_vector flipped(byte_vector f, std::size_t at)
{
    f[at] ^= 0x10;
    return f;
}

TEST(customisation_file_test, validity)
{
    struct row {
        const char* what;
        byte_vector file;
        bool valid;
    };
    const row rows[] = {
        {"length field 15", cst(16, 0, 1, 15), false},
        {"length field beyond the file", cst(16, 0, 1, 17), false},
        {"version 2", cst(16, 0, 2), false},
        {"shorter than 16 bytes", truncated(cst(16), 15), false},
        {"bad magic", flipped(cst(20), 1), false},
        {"trailing bytes after L", cst(20, 9), true},
        {"L = 16", cst(16), true},
        {"L = 17", cst(17), true},
        {"L = 19", cst(19), true},
        {"L = 20", cst(20), true},
        {"L = 33", cst(33, 3), true},
        {"one content bit flipped", flipped(cst(19), 10), false},
        {"one check word bit flipped", flipped(cst(17), 14), false},
        {"removal file", customisation_removal_file(), true},
    };
    for (const auto& r : rows)
        EXPECT_EQ(customisation_file_valid(r.file), r.valid) << r.what;
}

TEST(customisation_file_test, removal_file_bytes)
{
    const byte_vector expected{0x25, 0x5A, 0x54, 0x43, 0x10, 0, 0, 0, 0x01, 0x01, 0, 0, 0x4a, 0x32, 0x43, 0x1e};
    EXPECT_EQ(customisation_removal_file(), expected);
}

} // namespace
} // namespace talvor::test
