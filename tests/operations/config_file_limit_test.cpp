// A configuration file whose write comes up short (a file size limit,
// which only POSIX systems set per process).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "operations/config_file.h"

namespace talvor {
namespace {

namespace fs = std::filesystem;

byte_vector bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string contents(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class config_file_limit_test : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("talvor-cfglimit-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
};

TEST_F(config_file_limit_test, a_failed_write_leaves_the_earlier_file_as_it_was)
{
    const fs::path target = dir / "unit.cfg";
    std::string reason;
    ASSERT_EQ(replace_file_safely(target, bytes("first"), reason), 0) << reason;
    ASSERT_EQ(replace_file_safely(target, bytes("second"), reason), 0) << reason;
    EXPECT_EQ(contents(target), "second");

    // A file size limit makes the write of the new text come up short.
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int r = replace_file_safely(target, bytes("a much longer third text"), reason);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(r, -1);
    EXPECT_NE(reason.find("write failed"), std::string::npos) << reason;
    EXPECT_EQ(contents(target), "second");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

} // namespace
} // namespace talvor
