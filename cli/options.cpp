#include "cli/options.h"

#include <algorithm>
#include <cstdio>

#include "cli/batch_run.h"
#include "inventory/address_entry.h"
#include "inventory/password_text.h"
#include "transport/file_bytes.h"
#include "transport/path_text.h"

namespace talvor::cli {

namespace {

// Where an option of the table applies, by the command's verb and its batch
// table entry (nullptr for show and discover).
using applies_fn = bool (*)(std::string_view verb, const batch_command* batch);

bool listing(std::string_view verb, const batch_command*) { return verb == "show" || verb == "discover"; }
bool selecting(std::string_view, const batch_command* batch) { return batch && batch->takes_class; }
bool batching(std::string_view, const batch_command* batch) { return batch && !batch->each; }

// The options taken before or after the command. --help and the parser
// both come from this table, so what one lists the other accepts.
struct global_option {
    const char* name;
    const char* value; // its value's name in --help; nullptr for a plain switch
    const char* needs; // what a missing value is called in the usage error
    const char* help;  // the --help text beside the name, lines joined by '\n'
    applies_fn applies; // nullptr: every command
    // Takes the value (empty for a switch) into the options; the usage error, or empty.
    std::string (*take)(options& o, const std::string& value);
};

const std::vector<global_option>& global_options()
{
    static const std::vector<global_option> table = {
        {"--password-file", "FILE", "a file name",
         "administrator password (file bytes, one trailing newline dropped);\n"
         "without it the password is asked on the terminal",
         nullptr,
         [](options& o, const std::string& v) {
             o.password_file = v;
             return std::string();
         }},
        {"--password-stdin", nullptr, nullptr,
         "read the administrator password from the first line of standard input\n"
         "(for set-password --new-password-stdin, the new one from the next line)",
         nullptr,
         [](options& o, const std::string&) {
             o.password_stdin = true;
             return std::string();
         }},
        {"--credentials", "FILE", "a file name",
         "passwords of single units: lines 'ADDRESS PASSWORD', '#' comments;\n"
         "the file must be readable by its owner alone (mode 0600)",
         nullptr,
         [](options& o, const std::string& v) {
             o.credentials_file = v;
             return std::string();
         }},
        {"--tls-checks", "LEVEL", "none, standard or strict", "none, standard or strict (default: the saved setting)",
         nullptr,
         [](options& o, const std::string& v) -> std::string {
             constexpr const char* levels[] = {"none", "standard", "strict"};
             for (int n = 0; n < 3; ++n)
                 if (v == levels[n]) {
                     o.tls_checks = n;
                     return {};
                 }
             return "unknown TLS check level '" + v + "' (none, standard or strict)";
         }},
        {"--accept-insecure", nullptr, nullptr, "connect to units that fail the TLS checks without asking", nullptr,
         [](options& o, const std::string&) {
             o.accept_insecure = true;
             return std::string();
         }},
        {"--json", nullptr, nullptr, "print one JSON object instead of the tree (or the results)", nullptr,
         [](options& o, const std::string&) {
             o.json = true;
             return std::string();
         }},
        {"--csv", nullptr, nullptr, "print the units and TAPs as CSV, a row each, instead of the tree", listing,
         [](options& o, const std::string&) {
             o.csv = true;
             return std::string();
         }},
        {"--yes", nullptr, nullptr, "answer every question of a command with the button that goes on", nullptr,
         [](options& o, const std::string&) {
             o.yes = true;
             return std::string();
         }},
        {"--class", "NAME", "a class name",
         "the class to select: a hub class (the units' own by default)\n"
         "or a TAP class such as \"Rail Module\" (those TAPs of the units)",
         selecting,
         [](options& o, const std::string& v) {
             o.class_name = v;
             return std::string();
         }},
        {"--dry-run", nullptr, nullptr,
         "log in and read only: print what each unit would get, change nothing", batching,
         [](options& o, const std::string&) {
             o.dry_run = true;
             return std::string();
         }},
        {"--timeout", "SECONDS", "a number of seconds",
         "wait at most SECONDS for a unit's connection and for each exchange", nullptr,
         [](options& o, const std::string& v) -> std::string {
             const auto n = whole_number(v, 1, 3600);
             if (!n)
                 return "--timeout needs a number of seconds from 1 to 3600, not '" + v + "'";
             o.timeout_seconds = *n;
             return {};
         }},
        {"--retries", "N", "a number of retries",
         "try units that failed for a passing reason (no answer, a dropped\n"
         "connection) up to N more times within the run",
         nullptr,
         [](options& o, const std::string& v) -> std::string {
             const auto n = whole_number(v, 0, 10);
             if (!n)
                 return "--retries needs a number from 0 to 10, not '" + v + "'";
             o.retries = *n;
             return {};
         }},
        {"--parallel", "N", "a number of units", "at most N units at work at once, the others wait in order", batching,
         [](options& o, const std::string& v) -> std::string {
             const auto n = whole_number(v, 1, 100000);
             if (!n)
                 return "--parallel needs a number of units from 1 to 100000, not '" + v + "'";
             o.parallel = *n;
             return {};
         }},
        {"--retry-list", "FILE", "a file name", "write the addresses of the units that failed to FILE (for --list)",
         batching,
         [](options& o, const std::string& v) {
             o.retry_list = v;
             return std::string();
         }},
        {"--report", "FILE", "a file name", "write the batch's report (one JSON line per unit) to FILE too", batching,
         [](options& o, const std::string& v) {
             o.report_file = v;
             return std::string();
         }},
    };
    return table;
}

const global_option* find_global_option(std::string_view name)
{
    for (const global_option& g : global_options())
        if (name == g.name)
            return &g;
    return nullptr;
}

// show and discover, beside the batch commands of the batch table.
struct listing_command {
    const char* name;
    const char* operands; // after the name in the synopsis
    const char* summary;
};

constexpr listing_command listing_commands[] = {
    {"show", " TARGETS", "refresh the units and print the tree of units and TAPs with their details"},
    {"discover", "", "refresh the units discovery finds and print them as show does"},
};

std::vector<std::string> verbs()
{
    std::vector<std::string> out;
    for (const listing_command& c : listing_commands)
        out.emplace_back(c.name);
    for (const batch_command& c : batch_commands())
        out.emplace_back(c.name);
    return out;
}

const listing_command* find_listing_command(std::string_view verb)
{
    for (const listing_command& c : listing_commands)
        if (verb == c.name)
            return &c;
    return nullptr;
}

bool known_verb(std::string_view verb)
{
    return find_listing_command(verb) || find_batch_command(verb);
}

bool applies_to(const global_option& g, std::string_view verb)
{
    return !g.applies || g.applies(verb, find_batch_command(verb));
}

// A command's synopsis after "talvorctl [options] ".
std::string synopsis(std::string_view verb)
{
    std::string text(verb);
    const batch_command* c = find_batch_command(verb);
    if (!c)
        return text + find_listing_command(verb)->operands;
    if (c->operand && c->operand_or)
        text += std::string(" (") + c->operand + " | " + c->operand_or + ")";
    else if (c->operand)
        text += std::string(" ") + c->operand;
    text += " TARGETS";
    if (c->takes_class)
        text += " [--class NAME]";
    for (const command_flag& f : c->flags) {
        if (c->operand_or && std::string_view(f.name) == c->operand_or)
            continue;
        text += std::string(" [") + f.name + (f.value ? std::string(" ") + f.value : "") + "]" +
                (f.repeats ? "..." : "");
    }
    return text;
}

// "  NAME VALUE" padded to the help texts' column, or on a line of its own
// when longer.
std::string help_head(std::string head)
{
    head = "  " + head;
    return head + (head.size() < 25 ? std::string(25 - head.size(), ' ') : "\n" + std::string(25, ' '));
}

// One option's lines of --help: name and value, its text, and (with
// `where`) the commands it goes with unless it goes with all.
std::string option_help(const global_option& g, bool where)
{
    const std::string indent(25, ' ');
    std::string text = help_head(std::string(g.name) + (g.value ? std::string(" ") + g.value : ""));
    for (char c : std::string_view(g.help))
        text += c == '\n' ? "\n" + indent : std::string(1, c);
    text += "\n";
    if (!g.applies || !where)
        return text;
    std::string line = indent + "for:";
    bool first = true;
    for (const std::string& verb : verbs()) {
        if (!applies_to(g, verb))
            continue;
        const std::string item = (first ? " " : ", ") + verb;
        if (line.size() + item.size() > 99) {
            text += line + ",\n";
            line = indent + verb;
        } else {
            line += item;
        }
        first = false;
    }
    return text + line + "\n";
}

// The TARGETS block; batch commands also take --discover.
std::string targets_help(bool batch)
{
    return std::string("  ADDRESS                a unit's IPv4 or IPv6 address\n") +
           "  --list FILE            the units of the address list FILE (one --list for each file)\n" +
           (batch ? "  --discover             instead of addresses and lists: the units discovery finds\n" : "");
}

// --help's line differs: with a command it shows that command's help.
std::string help_switches(bool command)
{
    return std::string("  --help                 show this text") + (command ? "" : " (after a command: its own)") +
           "\n  --version              print talvorctl's version\n";
}

} // namespace

std::string usage_text()
{
    std::string text;
    for (const std::string& verb : verbs())
        text += (text.empty() ? "usage: " : "       ") + std::string("talvorctl [options] ") + synopsis(verb) + "\n";
    text += "       talvorctl COMMAND --help\n\ncommands:\n";
    for (const listing_command& c : listing_commands)
        text += help_head(c.name) + c.summary + "\n";
    for (const batch_command& c : batch_commands()) {
        text += help_head(c.name) + c.summary + "\n";
        if (c.notes)
            text += c.notes;
    }
    text += "\nTARGETS: any number of addresses and lists, mixed, acted on in the order given,\n"
            "or --discover (batch commands only)\n" +
            targets_help(true) + "\noptions (before or after the command):\n";
    for (const global_option& g : global_options())
        text += option_help(g, true);
    return text + help_switches(false) + "\nSee 'man talvorctl' for address lists, exit statuses, files and examples.\n";
}

std::string command_help(std::string_view verb)
{
    if (!known_verb(verb))
        return {};
    const batch_command* c = find_batch_command(verb);
    std::string text = "usage: talvorctl [options] " + synopsis(verb) + "\n\n";
    if (const listing_command* l = find_listing_command(verb))
        text += std::string(l->summary) + "\n";
    if (c) {
        // The notes, indented for the commands list of --help, start at the margin here.
        text += std::string(c->summary) + "\n";
        std::string_view notes = c->notes ? c->notes : "";
        while (!notes.empty()) {
            const auto end = notes.find('\n');
            std::string_view line = notes.substr(0, end);
            line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
            text += std::string(line) + "\n";
            notes.remove_prefix(end == std::string_view::npos ? notes.size() : end + 1);
        }
    }
    if (verb != "discover")
        text += std::string("\nTARGETS: any number of addresses and lists, mixed, acted on in the order given") +
                (c ? ",\nor --discover" : "") + "\n" + targets_help(c != nullptr);
    if (c && !c->flags.empty()) {
        text += "\nswitches of " + std::string(verb) + ":\n";
        for (const command_flag& f : c->flags) {
            const std::string head = std::string(f.name) + (f.value ? std::string(" ") + f.value : "");
            if (c->operand_or && std::string_view(f.name) == c->operand_or)
                text += help_head(head) + "instead of " + c->operand + "\n";
            else if (f.repeats)
                text += help_head(head) + "may be given more than once\n";
            else
                text += "  " + head + "\n";
        }
    }
    text += "\noptions (before or after the command):\n";
    for (const global_option& g : global_options())
        if (applies_to(g, verb))
            text += option_help(g, false);
    return text + help_switches(true) + "\nSee 'man talvorctl' for address lists, exit statuses, files and examples.\n";
}

std::string usage_hint(std::string_view verb)
{
    return known_verb(verb) ? "Try 'talvorctl " + std::string(verb) + " --help' or 'man talvorctl'."
                            : std::string("Try 'talvorctl --help' or 'man talvorctl'.");
}

std::string command_word(const std::vector<std::string>& args)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--")
            return i + 1 < args.size() ? args[i + 1] : std::string();
        if (a.size() < 2 || a[0] != '-')
            return a;
        const global_option* g = find_global_option(a);
        if (a.find('=') == std::string::npos && (a == "--list" || (g && g->value)))
            ++i; // its value
    }
    return {};
}

std::optional<std::size_t> whole_number(const std::string& text, std::size_t low, std::size_t high)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const std::size_t n = std::stoul(text);
    if (n < low || n > high)
        return std::nullopt;
    return n;
}

std::optional<options> parse_options(const std::vector<std::string>& args, std::string& error)
{
    options o;
    // --help anywhere before "--", or the command "help", asks for help
    // (with a command: its own), whatever else is wrong.
    std::string word = command_word(args);
    const auto options_end = std::find(args.begin(), args.end(), std::string("--"));
    o.help = word == "help" || std::any_of(args.begin(), options_end, [](const std::string& a) {
                 return a == "--help" || a == "-h";
             });
    if (o.help) {
        if (word == "help") {
            std::vector<std::string> rest = args;
            rest.erase(std::find(rest.begin(), rest.end(), "help"));
            word = command_word(rest);
        }
        if (!word.empty() && !known_verb(word)) {
            error = "unknown command '" + word + "'";
            return std::nullopt;
        }
        o.help_command = word;
        return o;
    }

    std::optional<std::string> verb;
    std::vector<target> items; // operands and --list files; the leading FILE is taken out below
    std::vector<const global_option*> given;
    bool operands_only = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (operands_only || a.size() < 2 || a[0] != '-') {
            if (!verb) {
                if (!known_verb(a)) {
                    error = "unknown command '" + a + "'";
                    return std::nullopt;
                }
                verb = a;
                o.batch = find_batch_command(a);
            } else {
                items.push_back({target::kind::address, a});
            }
            continue;
        }
        if (a == "--") {
            operands_only = true;
            continue;
        }
        // --name=value is --name value.
        const auto equals = a.rfind("--", 0) == 0 ? a.find('=') : std::string::npos;
        const std::string name = a.substr(0, equals);
        auto value = [&](const char* what) -> std::optional<std::string> {
            if (equals != std::string::npos ? equals + 1 == a.size() : i + 1 >= args.size()) {
                error = name + " needs " + what;
                return std::nullopt;
            }
            return equals != std::string::npos ? a.substr(equals + 1) : args[++i];
        };
        const global_option* g = find_global_option(name);
        const command_flag* f = o.batch ? o.batch->find_flag(name) : nullptr;
        const bool takes_value = name == "--list" || (g ? g->value != nullptr : f && f->value);
        if (equals != std::string::npos && !takes_value && (g || f || name == "--discover")) {
            error = name + " takes no value";
            return std::nullopt;
        }
        if (name == "--version") {
            o.version = true;
            return o;
        } else if (g) {
            std::string v;
            if (g->value) {
                auto given_value = value(g->needs);
                if (!given_value)
                    return std::nullopt;
                v = *given_value;
            }
            error = g->take(o, v);
            if (!error.empty())
                return std::nullopt;
            given.push_back(g);
        } else if (name == "--list") {
            auto file = value("a file name (one --list for each address list)");
            if (!file)
                return std::nullopt;
            items.push_back({target::kind::list, *file});
        } else if (name == "--discover") {
            o.discover_targets = true;
        } else if (f) {
            if (!f->repeats && o.has(name)) {
                error = name + " given twice";
                return std::nullopt;
            }
            if (f->value) {
                auto v = value(f->value);
                if (!v)
                    return std::nullopt;
                o.values.emplace_back(name, *v);
            } else {
                o.flags.push_back(name);
            }
        } else {
            error = "unknown option " + name + (verb ? " for " + *verb : "");
            return std::nullopt;
        }
    }
    if (!verb) {
        error = "no command given";
        return std::nullopt;
    }
    const bool lists = std::any_of(items.begin(), items.end(), [](const target& t) { return t.what == target::kind::list; });
    for (const global_option* g : given)
        if (!applies_to(*g, *verb)) {
            error = std::string(g->name) + " does not go with " + *verb;
            return std::nullopt;
        }
    if (*verb == "show") {
        o.what = command::show;
        if (o.discover_targets) {
            error = "--discover does not go with show: 'talvorctl discover' shows what discovery finds";
            return std::nullopt;
        }
        if (items.empty()) {
            error = "show needs its targets: ADDRESS... or --list FILE";
            return std::nullopt;
        }
    } else if (*verb == "discover") {
        o.what = command::discover;
        if (lists || o.discover_targets) {
            error = std::string(lists ? "--list" : "--discover") + " does not go with discover";
            return std::nullopt;
        }
        if (!items.empty()) {
            error = "discover takes no addresses";
            return std::nullopt;
        }
    } else {
        o.what = command::batch;
        if (o.batch->operand && !(o.batch->operand_or && o.has(o.batch->operand_or))) {
            // The leading operand is the first word after the command, also when a --list precedes it.
            const auto first = std::find_if(items.begin(), items.end(),
                                            [](const target& t) { return t.what == target::kind::address; });
            if (first == items.end()) {
                error = std::string(o.batch->name) + " needs " + o.batch->operand;
                return std::nullopt;
            }
            o.operand = first->text;
            items.erase(first);
        }
        if (items.empty() && !o.discover_targets) {
            error = std::string(o.batch->name) + " needs its targets: ADDRESS..., --list FILE or --discover";
            return std::nullopt;
        }
        if (!items.empty() && o.discover_targets) {
            error = "--discover takes no addresses or lists";
            return std::nullopt;
        }
    }
    for (const target& t : items) {
        bool empty = false;
        if (t.what == target::kind::address && !parse_address_box(t.text, empty)) {
            // A word that is no try at an address is most likely a file meant as a list.
            const bool file_like = t.text.find_first_not_of("0123456789abcdefABCDEF.:") != std::string::npos;
            error = "'" + t.text + "' is not an IP address" +
                    (!file_like ? ""
                     : lists    ? " (each address list needs its own --list)"
                                : " (an address list goes after --list)");
            return std::nullopt;
        }
        (t.what == target::kind::list ? o.list_files : o.addresses).push_back(t.text);
    }
    o.targets = std::move(items);
    if (o.batch && o.batch->check) {
        error = o.batch->check(o);
        if (!error.empty())
            return std::nullopt;
    }
    if (o.json && o.csv) {
        error = "--json and --csv do not go together";
        return std::nullopt;
    }
    if (o.password_file && o.password_stdin) {
        error = "--password-file and --password-stdin do not go together";
        return std::nullopt;
    }
    return o;
}

bool options::has(std::string_view flag) const
{
    for (const auto& f : flags)
        if (f == flag)
            return true;
    for (const auto& [name, v] : values)
        if (name == flag)
            return true;
    return false;
}

std::optional<std::string> options::value(std::string_view flag) const
{
    for (const auto& [name, v] : values)
        if (name == flag)
            return v;
    return std::nullopt;
}

std::vector<std::string> options::values_of(std::string_view flag) const
{
    std::vector<std::string> out;
    for (const auto& [name, v] : values)
        if (name == flag)
            out.push_back(v);
    return out;
}

int read_password_file(const std::string& path, std::string& out)
{
    wipe(out);
    std::FILE* f = open_file(utf8_path(path), "rb");
    if (!f)
        return -1;
    // Unbuffered, read straight into `out`, wiping every buffer it
    // outgrows: no stream buffer or byte vector keeps a copy of the password.
    std::setvbuf(f, nullptr, _IONBF, 0);
    int result = 0;
    for (;;) {
        if (out.size() == out.capacity()) {
            if (out.size() >= max_file_bytes) {
                result = -1;
                break;
            }
            std::string bigger;
            bigger.reserve(out.capacity() < 128 ? 256 : 2 * out.capacity());
            bigger.assign(out);
            wipe(out);
            out.swap(bigger); // the old buffer, wiped, goes with `bigger`
        }
        const std::size_t used = out.size();
        out.resize(out.capacity());
        const std::size_t n = std::fread(out.data() + used, 1, out.size() - used, f);
        out.resize(used + n);
        if (n == 0) {
            result = std::ferror(f) ? -1 : 0;
            break;
        }
    }
    std::fclose(f);
    if (result != 0) {
        wipe(out);
        return -1;
    }
    if (!out.empty() && out.back() == '\n') {
        out.pop_back();
        if (!out.empty() && out.back() == '\r')
            out.pop_back();
    }
    return 0;
}

std::optional<std::string> read_password_file(const std::string& path)
{
    std::optional<std::string> text(std::in_place);
    if (read_password_file(path, *text) != 0)
        return std::nullopt;
    return text;
}

} // namespace talvor::cli
