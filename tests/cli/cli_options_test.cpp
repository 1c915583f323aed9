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

namespace {

// A value the parser takes for an option whose value --help names so.
std::string sample_value(const std::string& name)
{
    static const std::map<std::string, std::string> samples = {
        {"LEVEL", "strict"}, {"N", "4"}, {"SECONDS", "30"}, {"NAME", "Talvor System"}};
    const auto it = samples.find(name);
    return it == samples.end() ? "x" : it->second;
}

std::vector<std::string> words(const std::string& line)
{
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

} // namespace

// Every option --help lists is taken where it says: the options section's
// before and after each command it goes with (and refused with the others),
// a usage line's own after its command.
TEST(CliOptions, HelpListsWhatTheParserTakes)
{
    struct listed {
        std::vector<std::string> args;    // the option and a value
        std::set<std::string> commands;   // empty: every command
    };
    std::map<std::string, listed> options_section;
    std::vector<std::pair<std::vector<std::string>, std::vector<std::vector<std::string>>>> usages; // args, own options
    std::istringstream help(usage_text());
    std::string current; // the options section's option whose lines these are
    for (std::string line; std::getline(help, line);) {
        auto w = words(line);
        if (line.find("talvorctl [options] ") != std::string::npos) {
            std::vector<std::string> base, own_args;
            std::vector<std::vector<std::string>> own;
            for (auto it = std::find(w.begin(), w.end(), "[options]") + 1; it != w.end(); ++it) {
                std::string t = *it;
                if (t.front() == '[') {
                    own.push_back({t.substr(1, t.find(']') - 1)});
                    if (t.find(']') == std::string::npos) {
                        ++it;
                        own.back().push_back(sample_value(it->substr(0, it->find(']'))));
                    }
                } else if (t == "TARGETS" || t == "ADDRESS...") {
                    base.push_back("10.0.0.1");
                } else if (t.front() == '(' || t == "FILE" || t == "FILE...") {
                    base.push_back("f.txt");
                    it = t.front() == '(' ? it + 2 : it;
                } else {
                    base.push_back(t); // the verb, --list
                }
            }
            usages.emplace_back(base, own);
        } else if (line.rfind("  --", 0) == 0) {
            current = w[0] == "--help" ? "" : w[0];
            options_section[w[0]].args = {w[0]};
            if (w.size() > 1 && std::isupper(static_cast<unsigned char>(w[1][0])))
                options_section[w[0]].args.push_back(sample_value(w[1]));
        } else if (!current.empty() && !w.empty() && (w[0] == "for:" || !options_section[current].commands.empty())) {
            for (std::size_t k = w[0] == "for:"; k < w.size(); ++k)
                options_section[current].commands.insert(w[k].substr(0, w[k].find(',')));
        }
    }
    for (const char* o : {"--class", "--parallel", "--retry-list", "--report", "--csv", "--json", "--yes"})
        EXPECT_TRUE(options_section.count(o)) << o;
    ASSERT_GT(usages.size(), 10u);

    for (const auto& [base, own] : usages) {
        const std::string verb = base[0];
        for (const auto& [name, o] : options_section) {
            const bool goes = o.commands.empty() || o.commands.count(verb);
            auto before = o.args;
            before.insert(before.end(), base.begin(), base.end());
            auto after = base;
            after.insert(after.end(), o.args.begin(), o.args.end());
            for (const auto& args : {before, after}) {
                std::string error;
                EXPECT_EQ(parse(args, &error).has_value(), goes) << verb << " " << name << ": " << error;
            }
        }
        for (const auto& args : own) {
            auto with = base;
            with.insert(with.end(), args.begin(), args.end());
            std::string error;
            // Some switches need another one; none may be unknown here.
            parse(with, &error);
            EXPECT_EQ(error.find("unknown option"), std::string::npos) << verb << ": " << error;
            EXPECT_EQ(error.find("does not go with"), std::string::npos) << verb << ": " << error;
        }
    }
}
