#pragma once
// talvorctl's batch commands: one table entry each, run the same way over
// the units their targets name once those are refreshed.
//
// To add a command, append one entry to the table in batch_run.cpp: its
// name, the leading operand's name (or nullptr), whether --class applies,
// the switches of its own, a one-line summary and the core call. The
// parser, --help and the results come from the table; add a line for it
// to the README's talvorctl section.
#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"
#include "operations/batch.h"

namespace talvor::cli {

class run_report;
class terminal_dialogs;

struct batch_command {
    const char* name = nullptr;    // the verb: "firmware"
    const char* operand = nullptr; // its leading operand ("FILE", "FOLDER"), or nullptr
    bool takes_class = false;      // --class NAME picks what is selected
    std::vector<const char*> flags = {}; // its own switches ("--remove"), collected in options::flags
    const char* summary = "";      // one line for --help
    // The core call over the selected units: the command's result (the
    // progress window's, or 0 when it ended before any job was queued).
    int (*run)(batch_context& ctx, const options& opts) = nullptr;
    // Whether it asks questions: without a terminal it then needs --yes.
    bool asks = true;

    bool accepts_flag(std::string_view flag) const;
};

const std::vector<batch_command>& batch_commands();
const batch_command* find_batch_command(std::string_view name);

// The product class a --class name stands for (case-insensitive); 0 when none.
int class_by_name(std::string_view name);
// Selects what the command runs on, as the window's single-class rule
// leaves it: the units of a hub class, or the TAPs of a TAP class on every
// unit. `cls` 0 means the units' own hub class (an error when they have
// two). Returns how many units or TAPs were selected; `error` says why none.
int select_class(unit_group& group, int cls, std::string& error);

// Runs the command after the refresh and prints the per-unit results (the
// units the refresh dropped count as failed). Returns the exit status.
int run_batch(const options& opts, batch_context& ctx, terminal_dialogs& ui, const run_report& refresh,
              const std::atomic<bool>& interrupted);

} // namespace talvor::cli
