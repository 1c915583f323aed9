#include "cli/options.h"

#include <cstdio>

#include "cli/batch_run.h"
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

std::vector<std::string> verbs()
{
    std::vector<std::string> out = {"show", "discover"};
    for (const batch_command& c : batch_commands())
        out.emplace_back(c.name);
    return out;
}

// One option's lines of --help: name and value, its text, and the
// commands it goes with unless it goes with all.
std::string option_help(const global_option& g)
{
    const std::string indent(25, ' ');
    std::string head = std::string("  ") + g.name + (g.value ? std::string(" ") + g.value : "");
    head += std::string(head.size() < 25 ? 25 - head.size() : 1, ' ');
    std::string text = head;
    for (char c : std::string_view(g.help))
        text += c == '\n' ? "\n" + indent : std::string(1, c);
    text += "\n";
    if (!g.applies)
        return text;
    std::string line = indent + "for:";
    bool first = true;
    for (const std::string& verb : verbs()) {
        if (!g.applies(verb, find_batch_command(verb)))
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

} // namespace

std::string usage_text()
{
    std::string text = "usage: talvorctl [options] show ADDRESS...\n"
                       "       talvorctl [options] show --list FILE...\n"
                       "       talvorctl [options] discover\n";
    for (const batch_command& c : batch_commands()) {
        text += std::string("       talvorctl [options] ") + c.name;
        if (c.operand && c.operand_or)
            text += std::string(" (") + c.operand + " | " + c.operand_or + ")";
        else if (c.operand)
            text += std::string(" ") + c.operand;
        text += " TARGETS";
        if (c.takes_class)
            text += " [--class NAME]";
        for (const command_flag& f : c.flags) {
            if (c.operand_or && std::string_view(f.name) == c.operand_or)
                continue;
            text += std::string(" [") + f.name + (f.value ? std::string(" ") + f.value : "") + "]" +
                    (f.repeats ? "..." : "");
        }
        text += "\n";
    }
    if (!batch_commands().empty()) {
        text += "\nTARGETS: ADDRESS..., --list FILE... or --discover\n\ncommands:\n";
        for (const batch_command& c : batch_commands())
        {
            const std::string name = c.name;
            text += "  " + name + std::string(name.size() < 22 ? 23 - name.size() : 1, ' ') + c.summary + "\n";
            if (c.notes)
                text += c.notes;
        }
    }
    text += "\noptions (before or after the command):\n";
    for (const global_option& g : global_options())
        text += option_help(g);
    return text + "  --help                 show this text\n"
                  "  --version              print talvorctl's version\n";
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
    std::optional<std::string> verb;
    bool list_mode = false;
    std::vector<std::string> operands;
    std::vector<const global_option*> given;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto operand = [&](const char* what) -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                error = a + " needs " + what;
                return std::nullopt;
            }
            return args[++i];
        };
        if (a == "--help" || a == "-h") {
            o.help = true;
            return o;
        } else if (a == "--version") {
            o.version = true;
            return o;
        } else if (const global_option* g = find_global_option(a)) {
            std::string value;
            if (g->value) {
                auto v = operand(g->needs);
                if (!v)
                    return std::nullopt;
                value = *v;
            }
            error = g->take(o, value);
            if (!error.empty())
                return std::nullopt;
            given.push_back(g);
        } else if (a == "--list" && (verb == "show" || o.batch)) {
            list_mode = true;
        } else if (a == "--discover" && o.batch) {
            o.discover_targets = true;
        } else if (const command_flag* f = o.batch ? o.batch->find_flag(a) : nullptr) {
            if (!f->repeats && o.has(a)) {
                error = a + " given twice";
                return std::nullopt;
            }
            if (f->value) {
                auto v = operand(f->value);
                if (!v)
                    return std::nullopt;
                o.values.emplace_back(a, *v);
            } else {
                o.flags.push_back(a);
            }
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            error = "unknown option " + a;
            return std::nullopt;
        } else if (!verb) {
            verb = a;
            o.batch = find_batch_command(a);
        } else {
            operands.push_back(a);
        }
    }
    if (!verb) {
        error = "no command given";
        return std::nullopt;
    }
    if (*verb == "show") {
        o.what = command::show;
        if (operands.empty()) {
            error = list_mode ? "show --list needs at least one file" : "show needs at least one address";
            return std::nullopt;
        }
        (list_mode ? o.list_files : o.addresses) = std::move(operands);
    } else if (*verb == "discover") {
        o.what = command::discover;
        if (!operands.empty()) {
            error = "discover takes no operands";
            return std::nullopt;
        }
    } else if (o.batch) {
        o.what = command::batch;
        if (o.batch->operand && !(o.batch->operand_or && o.has(o.batch->operand_or))) {
            // The leading operand comes first, also when --list precedes it.
            if (operands.empty()) {
                error = std::string(o.batch->name) + " needs " + o.batch->operand;
                return std::nullopt;
            }
            o.operand = operands.front();
            operands.erase(operands.begin());
        }
        const int kinds = (operands.empty() ? 0 : 1) + (o.discover_targets ? 1 : 0);
        if (kinds == 0) {
            error = std::string(o.batch->name) + " needs its targets: ADDRESS..., --list FILE... or --discover";
            return std::nullopt;
        }
        if (kinds > 1) {
            error = "--discover takes no addresses or lists";
            return std::nullopt;
        }
        (list_mode ? o.list_files : o.addresses) = std::move(operands);
        if (o.batch->check) {
            error = o.batch->check(o);
            if (!error.empty())
                return std::nullopt;
        }
    } else {
        error = "unknown command '" + *verb + "'";
        return std::nullopt;
    }
    for (const global_option* g : given)
        if (g->applies && !g->applies(*verb, o.batch)) {
            error = std::string(g->name) + " does not go with " + *verb;
            return std::nullopt;
        }
    if (o.json && o.csv) {
        error = "--json and --csv do not go together";
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
