#pragma once
// talvorctl's batch commands: one table entry each, run the same way over
// the units their targets name once those are refreshed.
//
// To add a command, append one entry to the table in batch_run.cpp: its
// name, the leading operand's name (or nullptr), whether --class applies,
// the switches of its own (plain or with a value, once or repeated), a
// one-line summary and the core call (or, for a command without a batch,
// the call on each unit). The parser, --help and the results come from the
// table; the terminal dialogs answer the core's questions from the
// switches. Add a line for it to doc/talvorctl.md's table of commands.
#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"
#include "operations/batch.h"
#include "operations/file_checks.h"

namespace talvor::cli {

class run_report;
class terminal_dialogs;

// A switch of one command: plain ("--remove") or with a value ("--out FILE").
struct command_flag {
    const char* name = nullptr;
    const char* value = nullptr; // the value's name in --help; nullptr for a plain switch
    bool repeats = false;        // may be given more than once
};

struct batch_command {
    const char* name = nullptr;    // the verb: "firmware"
    // The batch's title, as the window's progress and the batch log name it.
    const char* title = "";
    const char* operand = nullptr; // its leading operand ("FILE", "FOLDER"), or nullptr
    // What the operand must hold: checked before any unit is contacted.
    std::optional<input_kind> operand_kind = std::nullopt;
    // A switch that stands in for the operand ("--remove": no FILE then).
    const char* operand_or = nullptr;
    bool takes_class = true;       // --class NAME picks what is selected
    bool taps = false;             // --class may name a TAP class (the command acts on TAPs too)
    std::vector<command_flag> flags = {}; // its own switches, collected in options::flags and values
    const char* summary = "";      // one line for --help
    const char* notes = nullptr;   // further --help lines (each starts with spaces), or nullptr
    // The core call over the selected units: the command's result (the
    // progress window's, or 0 when it ended before any job was queued).
    int (*run)(batch_context& ctx, const options& opts) = nullptr;
    // Instead of run, for commands that act on each unit at once without a
    // batch: 0 or -1; `detail` is what to print for the unit (or the reason
    // of its failure). They take every unit the targets name.
    int (*each)(batch_context& ctx, CHubDevice& unit, const options& opts, std::string& detail) = nullptr;
    // Whether it asks questions: without a terminal it then needs --yes.
    bool asks = true;
    // Switches that do not go together; the usage error, or empty.
    std::string (*check)(const options& opts) = nullptr;
    // Answers a question of the core from the command's switches
    // (restart --with-taps); nullopt leaves it to --yes or the terminal.
    std::optional<task_dialog_answer> (*preset)(const task_dialog_request& request, const options& opts) = nullptr;

    const command_flag* find_flag(std::string_view flag) const;
};

// The version of the batch commands' JSON document (doc/json.md): keys are
// only ever added under one version.
inline constexpr int batch_schema = 1;

const std::vector<batch_command>& batch_commands();
const batch_command* find_batch_command(std::string_view name);

// The product class a --class name stands for (case-insensitive): a
// product class's own name, or a TAP class's as the tree shows it ("Senta
// Module" stands for "Rail Module"); 0 when none.
int class_by_name(std::string_view name);

// What --class NAME means among the refreshed units: the product class and
// a line saying what it covers (the TAP kinds of a TAP class), or the usage
// error, which lists the classes present with their counts.
struct class_choice {
    int product_class = 0;
    std::string note;
    std::string error;
};
class_choice choose_class(const unit_group& group, std::string_view name, bool taps_allowed, std::string_view verb);

// Selects what the command runs on, exactly as the window's Select Class
// does: the units of a hub class, or the TAPs of a TAP class on every unit.
// `cls` 0 means the units' own hub class (an error when they have two).
// Returns how many units or TAPs were selected; `error` says why none; -1
// when the units are of two classes and none was named.
int select_class(unit_group& group, int cls, std::string& error);

// Checks, before any unit is contacted, every file the command reads and
// every place it writes: its operand, --out, --folder, --report,
// --retry-list and --new-password-file. The first problem ("site.cfg:
// empty"), or empty.
std::string check_command_files(const options& opts);

// Runs the command after the refresh and prints the per-unit results (the
// units the refresh dropped count as failed). Returns the exit status.
int run_batch(const options& opts, batch_context& ctx, terminal_dialogs& ui, const run_report& refresh,
              const std::atomic<bool>& interrupted);

} // namespace talvor::cli
