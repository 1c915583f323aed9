#include "cli/batch_run.h"
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

    o = parse({"show", "--list", "a.txt", "--list", "b.txt", "--accept-insecure", "--password-file", "pw"});
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
    bool options_block = false; // TARGETS has lines of switches too
    for (std::string line; std::getline(help, line);) {
        options_block = options_block || line.rfind("options", 0) == 0;
        std::istringstream in(line);
        const std::vector<std::string> w{std::istream_iterator<std::string>(in), {}};
        const auto at = std::find(w.begin(), w.end(), "[options]");
        if (at != w.end() && at + 1 != w.end() && !commands.count(at[1])) {
            // The verb, a file for its operand, one address for its targets.
            auto& args = commands[at[1]] = {at[1]};
            for (auto it = at + 2; it != w.end() && it->front() != '['; ++it)
                if (*it == "FILE" || it->front() == '(')
                    args.push_back("f");
                else if (*it == "TARGETS")
                    args.push_back("10.0.0.1");
        } else if (options_block && line.rfind("  --", 0) == 0) {
            current = w[0];
            section[current].first = {w[0]};
            if (w.size() > 1 && std::isupper(static_cast<unsigned char>(w[1][0])))
                section[current].first.push_back(w[1] == "LEVEL" ? "strict" : w[1] == "N" ? "4" : w[1] == "SECONDS" ? "30" : "x");
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

// The targets in the order given, the leading FILE taken out wherever a
// --list stands, --opt=value and "--"; or the usage error's words.
TEST(CliOptions, TargetsInOrderAndTheirUsageErrors)
{
    using k = target::kind;
    const struct {
        std::vector<std::string> args;
        std::vector<target> targets; // empty: a usage error containing `error`
        std::string operand_or_error;
    } cases[] = {
        {{"restart", "--list", "a.txt", "127.92.0.1", "--yes"}, {{k::list, "a.txt"}, {k::address, "127.92.0.1"}}, ""},
        {{"firmware", "--list=a.txt", "fw.bin", "fe80::1", "--list", "b.txt", "10.0.0.1"},
         {{k::list, "a.txt"}, {k::address, "fe80::1"}, {k::list, "b.txt"}, {k::address, "10.0.0.1"}}, "fw.bin"},
        {{"--class=Rail Module", "firmware", "--verify-timeout=60", "--verify", "--", "-odd.bin", "10.0.0.1"},
         {{k::address, "10.0.0.1"}}, "-odd.bin"},
        {{"show", "--list", "a.txt", "b.txt"}, {}, "'b.txt' is not an IP address (each address list needs its own --list)"},
        {{"show", "a.txt"}, {}, "'a.txt' is not an IP address (an address list goes after --list)"},
        {{"show", "10.0.0.x"}, {}, "'10.0.0.x' is not an IP address"},
        {{"show", "--list="}, {}, "--list needs a file name"},
        {{"show", "--yes=1", "10.0.0.1"}, {}, "--yes takes no value"},
        {{"show", "--discover"}, {}, "--discover does not go with show"},
        {{"discover", "--list", "a.txt"}, {}, "--list does not go with discover"},
        {{"restart", "--discover", "--list", "a.txt"}, {}, "--discover takes no addresses or lists"},
        {{"restart", "--", "--yes"}, {}, "'--yes' is not an IP address"},
        {{"restart", "--verify", "10.0.0.1"}, {}, "unknown option --verify for restart"},
        {{"reboot", "--with-taps"}, {}, "unknown command 'reboot'"},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto o = parse(c.args, &error);
        const std::string line = c.args[0] + " " + c.args[1];
        if (c.targets.empty()) {
            EXPECT_FALSE(o) << line;
            EXPECT_NE(error.find(c.operand_or_error), std::string::npos) << line << ": " << error;
            continue;
        }
        ASSERT_TRUE(o) << line << ": " << error;
        EXPECT_EQ(o->targets, c.targets) << line;
        EXPECT_EQ(o->operand.value_or(""), c.operand_or_error) << line;
        std::vector<std::string> addresses, lists;
        for (const target& t : c.targets)
            (t.what == k::list ? lists : addresses).push_back(t.text);
        EXPECT_EQ(o->addresses, addresses) << line;
        EXPECT_EQ(o->list_files, lists) << line;
    }
}

// COMMAND --help lists exactly the switches the parser takes after it.
TEST(CliOptions, CommandHelpListsExactlyItsSwitches)
{
    auto switches = [](const std::string& help) {
        std::map<std::string, std::string> out; // switch -> its value's name
        std::istringstream in(help);
        for (std::string line; std::getline(in, line);)
            if (line.rfind("  --", 0) == 0) {
                std::istringstream words(line);
                std::string name, value;
                words >> name >> value;
                out[name] = !value.empty() && std::isupper(static_cast<unsigned char>(value[0])) ? value : "";
            }
        return out;
    };
    std::vector<std::string> verbs = {"show", "discover"};
    auto all = switches(usage_text());
    for (const batch_command& c : batch_commands())
        verbs.push_back(c.name);
    for (const auto& verb : verbs)
        all.merge(switches(command_help(verb)));
    EXPECT_TRUE(all.count("--list") && all.count("--discover") && all.count("--verify"));

    for (const auto& verb : verbs) {
        const auto listed = switches(command_help(verb));
        EXPECT_NE(command_help(verb).find("talvorctl [options] " + verb), std::string::npos);
        for (const auto& [name, value] : all) {
            std::vector<std::string> args = {verb};
            const batch_command* c = find_batch_command(verb);
            if (c && c->operand)
                args.push_back("f");
            if (verb != "discover")
                args.push_back("10.0.0.1");
            args.push_back(name);
            if (!value.empty())
                args.push_back(value == "LEVEL" ? "strict" : value == "N" || value == "SECONDS" ? "4" : "x");
            // Refused for what it is, not for how the others are set.
            std::string error;
            parse(args, &error);
            const bool taken = error.find("unknown option") == std::string::npos &&
                               error.find("does not go with") == std::string::npos;
            EXPECT_EQ(taken, listed.count(name) == 1) << verb << " " << name << ": " << error;
        }
    }
    // --help anywhere, or "help", asks for the help of the command named, whatever else is wrong.
    EXPECT_EQ(parse({"--json", "firmware", "--bogus", "-h"}).value().help_command, "firmware");
    EXPECT_EQ(parse({"--password-file", "pw", "help", "restart"}).value().help_command, "restart");
    EXPECT_TRUE(parse({"help"}).value().help_command.empty());
    EXPECT_FALSE(parse({"--help", "reboot"}));
    EXPECT_EQ(usage_hint("firmware"), "Try 'talvorctl firmware --help' or 'man talvorctl'.");
    EXPECT_EQ(usage_hint("reboot"), "Try 'talvorctl --help' or 'man talvorctl'.");
}
