#include "cli/options.h"
#include "cli/terminal_dialogs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
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

// Each option of --help's options section is taken before and after every
// command it names (all of them when it names none) and refused by the others.
TEST(CliOptions, HelpListsWhereEachOptionIsTaken)
{
    std::map<std::string, std::vector<std::string>> commands; // verb -> a command line without options
    std::map<std::string, std::pair<std::vector<std::string>, std::set<std::string>>> section; // args, for:
    std::istringstream help(usage_text());
    std::string current;
    for (std::string line; std::getline(help, line);) {
        std::istringstream in(line);
        const std::vector<std::string> w{std::istream_iterator<std::string>(in), {}};
        const auto at = std::find(w.begin(), w.end(), "[options]");
        if (at != w.end() && at + 1 != w.end() && !commands.count(at[1])) {
            // The verb, a file for its operand, one address for its targets.
            auto& args = commands[at[1]] = {at[1]};
            for (auto it = at + 2; it != w.end() && it->front() != '['; ++it)
                if (*it == "FILE" || it->front() == '(')
                    args.push_back("f");
                else if (*it == "TARGETS" || *it == "ADDRESS...")
                    args.push_back("10.0.0.1");
        } else if (line.rfind("  --", 0) == 0) {
            current = w[0];
            section[current].first = {w[0]};
            if (w.size() > 1 && std::isupper(static_cast<unsigned char>(w[1][0])))
                section[current].first.push_back(w[1] == "LEVEL" ? "strict" : w[1] == "N" ? "4" : "x");
        } else if (!w.empty() && !current.empty() && (w[0] == "for:" || !section[current].second.empty())) {
            for (std::size_t k = w[0] == "for:"; k < w.size(); ++k)
                section[current].second.insert(w[k].substr(0, w[k].find(',')));
        }
    }
    for (const char* o : {"--class", "--parallel", "--retry-list", "--report", "--csv", "--json"})
        EXPECT_TRUE(section.count(o)) << o;
    ASSERT_GT(commands.size(), 10u);

    for (const auto& [verb, base] : commands)
        for (const auto& [name, listed] : section) {
            const auto& [option, only] = listed;
            auto before = option, after = base;
            before.insert(before.end(), base.begin(), base.end());
            after.insert(after.end(), option.begin(), option.end());
            for (auto args : {before, after}) {
                // --yes never stands in for the new password.
                if (verb == "set-password")
                    args.insert(args.end(), {"--new-password-file", "f"});
                std::string error;
                EXPECT_EQ(parse(args, &error).has_value(), only.empty() || only.count(verb))
                    << verb << " " << name << ": " << error;
            }
        }
}
