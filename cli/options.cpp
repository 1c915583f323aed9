#include "cli/options.h"

#include "transport/file_bytes.h"

namespace talvor::cli {

std::string usage_text()
{
    return "usage: talvorctl [options] show ADDRESS...\n"
           "       talvorctl [options] show --list FILE...\n"
           "       talvorctl [options] discover\n"
           "\n"
           "options:\n"
           "  --password-file FILE   administrator password (file bytes, one trailing newline dropped);\n"
           "                         without it the password is asked on the terminal\n"
           "  --tls-checks LEVEL     none, standard or strict (default: the saved setting)\n"
           "  --accept-insecure      connect to units that fail the TLS checks without asking\n"
           "  --json                 print one JSON object instead of the tree\n"
           "  --help                 show this text\n";
}

std::optional<options> parse_options(const std::vector<std::string>& args, std::string& error)
{
    options o;
    std::optional<std::string> verb;
    bool list_mode = false;
    std::vector<std::string> operands;
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
        } else if (a == "--password-file") {
            auto v = operand("a file name");
            if (!v)
                return std::nullopt;
            o.password_file = *v;
        } else if (a == "--tls-checks") {
            auto v = operand("none, standard or strict");
            if (!v)
                return std::nullopt;
            if (*v == "none")
                o.tls_checks = 0;
            else if (*v == "standard")
                o.tls_checks = 1;
            else if (*v == "strict")
                o.tls_checks = 2;
            else {
                error = "unknown TLS check level '" + *v + "' (none, standard or strict)";
                return std::nullopt;
            }
        } else if (a == "--accept-insecure") {
            o.accept_insecure = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--list" && verb == "show") {
            list_mode = true;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            error = "unknown option " + a;
            return std::nullopt;
        } else if (!verb) {
            verb = a;
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
    } else {
        error = "unknown command '" + *verb + "'";
        return std::nullopt;
    }
    return o;
}

std::optional<std::string> read_password_file(const std::string& path)
{
    std::vector<std::uint8_t> bytes;
    if (read_file_bytes(path, bytes) != 0)
        return std::nullopt;
    std::string text(bytes.begin(), bytes.end());
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
    }
    return text;
}

} // namespace talvor::cli
