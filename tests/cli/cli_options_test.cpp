#include "cli/options.h"
#include "cli/terminal_dialogs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace talvor::cli;

namespace {

std::optional<options> parse(std::vector<std::string> args, std::string* error_out = nullptr)
{
    std::string error;
    auto o = parse_options(args, error);
    if (error_out)
        *error_out = error;
    return o;
}

} // namespace

TEST(CliOptions, ShowDiscoverAndTheirOptions)
{
    auto o = parse({"--json", "--tls-checks", "strict", "show", "10.0.0.1", "fe80::1"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->what, command::show);
    EXPECT_EQ(o->addresses, (std::vector<std::string>{"10.0.0.1", "fe80::1"}));
    EXPECT_EQ(o->tls_checks, 2);
    EXPECT_TRUE(o->json);

    o = parse({"show", "--list", "a.txt", "b.txt", "--accept-insecure", "--password-file", "pw"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->list_files, (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_TRUE(o->addresses.empty());
    EXPECT_TRUE(o->accept_insecure);
    EXPECT_EQ(o->password_file, "pw");
    EXPECT_FALSE(o->tls_checks); // the saved setting decides

    o = parse({"discover", "--tls-checks", "none"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->what, command::discover);
    EXPECT_EQ(o->tls_checks, 0);
}

TEST(CliOptions, UsageErrorsSayWhatIsWrong)
{
    std::string error;
    EXPECT_FALSE(parse({}, &error));
    EXPECT_NE(error.find("no command"), std::string::npos);
    EXPECT_FALSE(parse({"show"}, &error));
    EXPECT_FALSE(parse({"show", "--list"}, &error));
    EXPECT_FALSE(parse({"discover", "10.0.0.1"}, &error));
    EXPECT_FALSE(parse({"--tls-checks", "paranoid", "discover"}, &error));
    EXPECT_NE(error.find("paranoid"), std::string::npos);
    EXPECT_FALSE(parse({"show", "1.2.3.4", "--password-file"}, &error));
    EXPECT_FALSE(parse({"--bogus", "discover"}, &error));
    EXPECT_FALSE(parse({"reboot", "1.2.3.4"}, &error));
    EXPECT_FALSE(parse({"restart", "--with-taps", "--no-taps", "1.2.3.4"}, &error));
    EXPECT_FALSE(parse({"download-config", "1.2.3.4", "--out"}, &error));
    EXPECT_FALSE(parse({"download-config", "1.2.3.4", "--out", "a", "--out", "b"}, &error));
    EXPECT_NE(error.find("twice"), std::string::npos);
    EXPECT_FALSE(parse({"customize", "1.2.3.4"}, &error)); // the file is the first operand
}

TEST(CliOptions, CommandSwitchesWithValuesRepeatedOrInPlaceOfTheOperand)
{
    auto o = parse({"upload-config", "site.cfg", "--category", "Network", "10.0.0.1", "--category", "Logs"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->operand, "site.cfg");
    EXPECT_EQ(o->addresses, (std::vector<std::string>{"10.0.0.1"}));
    EXPECT_EQ(o->values_of("--category"), (std::vector<std::string>{"Network", "Logs"}));

    o = parse({"customize", "--remove", "10.0.0.1"});
    ASSERT_TRUE(o);
    EXPECT_FALSE(o->operand);
    EXPECT_TRUE(o->has("--remove"));
    EXPECT_EQ(o->addresses, (std::vector<std::string>{"10.0.0.1"}));
}

TEST(CliOptions, PasswordFileDropsOneTrailingNewlineOnly)
{
    const auto path = std::filesystem::temp_directory_path() / ("talvorctl_pw_" + std::to_string(::getpid()));
    auto read_back = [&](const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
        return read_password_file(path.string());
    };
    EXPECT_EQ(read_back("secret\n"), "secret");
    EXPECT_EQ(read_back("secret\r\n"), "secret");
    EXPECT_EQ(read_back("secret\n\n"), "secret\n");
    EXPECT_EQ(read_back(" spaced \r"), " spaced \r");
    EXPECT_EQ(read_back(""), "");
    std::filesystem::remove(path);
    EXPECT_FALSE(read_password_file(path.string()));
}

TEST(CliOptions, FilePasswordBytesSurviveTheCodePageConversion)
{
    // UTF-8 stays text; other bytes are Windows-1252 so the unit gets exactly them.
    EXPECT_EQ(file_password_text("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(file_password_text("caf\xE9"), "caf\xC3\xA9");
    EXPECT_EQ(file_password_text("\x80"), "\xE2\x82\xAC");
}
