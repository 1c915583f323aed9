#include "protocol/key_derivation.h"
#include "transport/checked_number.h"
#include "transport/file_bytes.h"
#include "transport/mac_text.h"
#include "transport/progress.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>

using namespace talvor;

TEST(CheckedTruncate, RefusesWhatACastCouldNotHold)
{
    EXPECT_EQ(checked_truncate<int>(2.9), 2);
    EXPECT_EQ(checked_truncate<int>(-2.9), -2);
    EXPECT_EQ(checked_truncate<std::uint16_t>(65535.0), 65535);
    EXPECT_FALSE(checked_truncate<std::uint16_t>(65536.0));
    EXPECT_FALSE(checked_truncate<unsigned>(-1.0));
    EXPECT_EQ(checked_truncate<unsigned>(-0.5), 0u); // truncates to 0
    EXPECT_FALSE(checked_truncate<int>(std::nan("")));
    EXPECT_FALSE(checked_truncate<int>(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(checked_truncate<int>(2147483648.0));
    EXPECT_EQ(checked_truncate<int>(-2147483648.0), std::numeric_limits<int>::min());
    EXPECT_FALSE(checked_truncate<std::int64_t>(9223372036854775808.0));
    EXPECT_EQ(checked_truncate<std::int64_t>(-9223372036854775808.0), std::numeric_limits<std::int64_t>::min());
}

TEST(FileBytes, ReadsUpToTheLimitAndRefusesOneByteMore)
{
    const auto dir = std::filesystem::temp_directory_path() / ("talvor_fb_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto write = [&](const char* name, std::size_t size) {
        std::ofstream out(dir / name, std::ios::binary);
        std::string block(4096, 'x');
        for (std::size_t left = size; left; left -= std::min(left, block.size()))
            out.write(block.data(), static_cast<std::streamsize>(std::min(left, block.size())));
        return dir / name;
    };
    std::vector<std::uint8_t> bytes{1, 2, 3};
    EXPECT_EQ(read_file_bytes(write("exact", max_file_bytes), bytes), 0);
    EXPECT_EQ(bytes.size(), max_file_bytes);
    bytes.assign(3, 7);
    EXPECT_EQ(read_file_bytes(write("over", max_file_bytes + 1), bytes), -1);
    EXPECT_EQ(bytes.size(), 3u); // a refused file leaves the output alone
    EXPECT_EQ(read_file_bytes(write("small", 1025), bytes), 0);
    EXPECT_EQ(bytes.size(), 1025u);
    EXPECT_EQ(read_file_bytes(write("empty", 0), bytes), 0);
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(read_file_bytes(dir / "missing", bytes), -1);
    std::filesystem::remove_all(dir);
}

TEST(Helpers, MacTextAndProgressRanges)
{
    EXPECT_EQ(mac_text({0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}), "00:1a:2b:3c:4d:5e");
    progress_range whole;
    auto upper = whole.sub(0.5, 1.0);
    auto transfer = upper.sub(0.0, 0.1);
    transfer.report(1.0);
    EXPECT_DOUBLE_EQ(whole.value->get(), 0.55);
    upper.report(1.0);
    EXPECT_DOUBLE_EQ(whole.value->get(), 1.0);
}

TEST(KeyDerivation, DependsOnlyOnTheConcatenation)
{
    EXPECT_EQ(derive_f("pass", "salt"), derive_f("pas", "ssalt"));
    EXPECT_EQ(derive_f("", "passsalt"), derive_f("passsalt", ""));
    EXPECT_NE(derive_f("pass", "salt"), derive_f("pass", "salu"));
    // RC4 with key "Key", 300 bytes dropped: independent check of the schedule
    // against a straightforward reference written here.
    auto reference = [](std::string key) {
        unsigned char s[256];
        for (int i = 0; i < 256; ++i)
            s[i] = static_cast<unsigned char>(i);
        for (int i = 0, j = 0; i < 256; ++i) {
            j = (j + s[i] + static_cast<unsigned char>(key[i % key.size()])) & 255;
            std::swap(s[i], s[j]);
        }
        std::string out;
        for (int n = 0, i = 0, j = 0; n < 316; ++n) {
            i = (i + 1) & 255;
            j = (j + s[i]) & 255;
            std::swap(s[i], s[j]);
            if (n >= 300)
                out.push_back(static_cast<char>(s[(s[i] + s[j]) & 255]));
        }
        return out;
    };
    EXPECT_EQ(hex_lower(derive_f("Key", "")), hex_lower(reference("Key")));
    const std::string k = hex_lower(derive_f("secret", "0123abcd"));
    EXPECT_EQ(k.size(), 32u);
    EXPECT_EQ(k.find_first_not_of("0123456789abcdef"), std::string::npos);
    // Key bytes past the 256th take no part.
    const std::string long_key(256, 'a');
    EXPECT_EQ(derive_f(long_key, "x"), derive_f(long_key, "y"));
}
