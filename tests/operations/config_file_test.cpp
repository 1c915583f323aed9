// Reading, naming and writing configuration files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "operations/config_file.h"
#include "transport/path_text.h"

namespace talvor {
namespace {

namespace fs = std::filesystem;

byte_vector bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string contents(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t entries(const fs::path& folder)
{
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

class config_file_test : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("talvor-cfgfile-" + std::to_string(std::random_device()()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
};

TEST(config_file, info_of_the_file)
{
    auto full = read_config_file_info(
        bytes(R"({"version":8,"glob_conf":{"sd_state":4096},"filtering":{"active":1},"log_conf":[]})"));
    ASSERT_TRUE(full);
    EXPECT_EQ(full->version, 8);
    EXPECT_EQ(full->sd_state, 0x1000);
    EXPECT_TRUE(full->filtering_active);
    EXPECT_TRUE(full->has_log_conf);

    auto plain = read_config_file_info(bytes(R"({"filtering":{"active":0},"version":7})"));
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->filtering_active);
    EXPECT_FALSE(plain->has_log_conf);

    for (const char* bad : {"", "not json", "[7]", "{}", R"({"version":0})", R"({"version":"7"})",
                            R"({"glob_conf":{"version":7}})"})
        EXPECT_FALSE(read_config_file_info(bytes(bad))) << bad;
}

TEST(config_file, unit_names_stay_inside_the_folder)
{
    const mac_address mac{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    EXPECT_EQ(config_unit_name("", mac), "00:1a:2b:3c:4d:5e");
    EXPECT_EQ(config_unit_name("TLV1", mac), "TLV1");
    struct {
        const char* serial;
        const char* stem;
    } cases[] = {{"TLV123", "TLV123"}, {"../x", ".._x"},          {"a/b", "a_b"},
                 {"C:x", "C_x"},       {"a\\b*?\"<>|\t", "a_b_______"}, {"", "00_1a_2b_3c_4d_5e"},
                 {".", "00_1a_2b_3c_4d_5e"}, {"..", "00_1a_2b_3c_4d_5e"}, {"/", "_"}};
    for (const auto& c : cases)
        EXPECT_EQ(config_file_stem(c.serial, mac), c.stem) << c.serial;
}

TEST_F(config_file_test, a_new_file_takes_the_first_free_of_ten_names)
{
    std::ofstream(dir / "S.CFG") << "old";
    std::ofstream(dir / "S(1).CFG") << "old";
    std::string reason;
    auto written = write_new_config_file(dir, "S", bytes("new"), reason);
    ASSERT_TRUE(written) << reason;
    EXPECT_EQ(*written, dir / "S(2).CFG");
    EXPECT_EQ(contents(*written), "new");
    EXPECT_EQ(contents(dir / "S.CFG"), "old");
    EXPECT_EQ(fs::status(*written).permissions(), fs::status(dir / "S.CFG").permissions()); // as any new file

    for (int n = 3; n <= 9; ++n)
        std::ofstream(dir / ("S(" + std::to_string(n) + ").CFG")) << "old";
    EXPECT_FALSE(write_new_config_file(dir, "S", bytes("newer"), reason));
    EXPECT_EQ(reason, "all ten file names are taken");
    EXPECT_EQ(entries(dir), 10u); // no temporary file left
}

// Serials and folders come as UTF-8 and must name the same files on every
// system (Windows reads narrow names in its code page otherwise).
TEST_F(config_file_test, names_outside_ascii_are_kept)
{
    for (const char* name : {"Z\xc3\xa4hler", "\xe5\x8c\x97\xe5\x8c\xba", "\xce\xa9-3"}) {
        const fs::path folder = dir / utf8_path(name);
        fs::create_directories(folder);
        std::string reason;
        const auto written = write_new_config_file(folder, name, bytes("new"), reason);
        ASSERT_TRUE(written) << reason;
        EXPECT_EQ(path_text(written->filename()), std::string(name) + ".CFG");
        ASSERT_EQ(replace_file_safely(*written, bytes("newer"), reason), 0) << reason;
        EXPECT_EQ(contents(folder / utf8_path(std::string(name) + ".CFG")), "newer");
        EXPECT_EQ(entries(folder), 1u) << name;
    }
}

} // namespace
} // namespace talvor
