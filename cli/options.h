#pragma once
// talvorctl's command line.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talvor::cli {

enum class command { show, discover, batch };

struct batch_command;

// One target of the command line: an address, or an address list's file.
struct target {
    enum class kind { address, list };
    kind what = kind::address;
    std::string text;
    bool operator==(const target&) const = default;
};

struct options {
    command what = command::show;
    const batch_command* batch = nullptr; // command::batch: its table entry
    std::vector<target> targets;         // the addresses and --list files, in the order given
    std::vector<std::string> addresses;  // the addresses of `targets`, in order
    std::vector<std::string> list_files; // the --list files of `targets`, in order
    bool discover_targets = false;       // a batch over the units discovery finds
    std::optional<std::string> operand;  // a batch command's leading FILE (or FOLDER)
    std::optional<std::string> class_name; // --class NAME
    std::optional<std::string> retry_list; // --retry-list FILE: the failed units' addresses go there
    std::optional<std::string> report_file; // --report FILE: the batch's report lines go there too
    std::size_t parallel = 0;              // --parallel N; 0: every unit at once
    std::vector<std::string> flags;      // a batch command's own plain switches given
    // A batch command's own switches with a value, in the order given.
    std::vector<std::pair<std::string, std::string>> values;
    bool yes = false;                    // --yes
    std::optional<std::string> password_file;
    bool password_stdin = false;         // --password-stdin: the first line of standard input
    std::optional<std::string> credentials_file; // --credentials FILE: passwords of single units
    bool dry_run = false;                // --dry-run: log in and read, change nothing
    std::size_t timeout_seconds = 0;     // --timeout SECONDS; 0: the transport's own limits
    std::size_t retries = 0;             // --retries N: transient failures tried again
    std::optional<int> tls_checks; // 0 none, 1 standard, 2 strict; unset: the saved setting
    bool accept_insecure = false;
    bool json = false;
    bool csv = false; // show and discover: the units and TAPs as CSV
    bool help = false;         // --help: the help of `help_command`, or the global one when empty
    std::string help_command;  // a command's name (show, discover or a batch command)
    bool version = false;

    bool has(std::string_view flag) const;
    // The value of a switch given once (nullopt when not given).
    std::optional<std::string> value(std::string_view flag) const;
    // Every value of a repeated switch, in order.
    std::vector<std::string> values_of(std::string_view flag) const;
};

// Parses argv; on a usage error returns nullopt and sets `error`.
std::optional<options> parse_options(const std::vector<std::string>& args, std::string& error);

// talvorctl --help: every command, TARGETS and the options.
std::string usage_text();
// talvorctl COMMAND --help: its synopsis, summary and notes, TARGETS, its own
// switches and the options it takes; empty for an unknown command.
std::string command_help(std::string_view verb);
// The line a usage error ends with: where to read more about `verb` (empty:
// talvorctl as a whole).
std::string usage_hint(std::string_view verb);
// The command word of a command line, as far as it can be told: the first
// operand before "--" that is not an option's value.
std::string command_word(const std::vector<std::string>& args);

// A decimal number from `low` to `high`, nothing else; nullopt otherwise.
std::optional<std::size_t> whole_number(const std::string& text, std::size_t low, std::size_t high);

// The password file's bytes as it holds them, one trailing LF or CR LF
// dropped, read into `out` without copies left behind; 0, or -1 when it
// cannot be read (`out` then empty).
int read_password_file(const std::string& path, std::string& out);
std::optional<std::string> read_password_file(const std::string& path);

} // namespace talvor::cli
