#include "cli/batch_run.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "cli/json_writer.h"
#include "cli/run_report.h"
#include "cli/terminal_dialogs.h"
#include "inventory/code_tables.h"
#include "operations/commands.h"

namespace talvor::cli {

// The path operand as the core takes it.
static std::filesystem::path operand_path(const options& o)
{
    return std::filesystem::path(o.operand.value_or(""));
}

const std::vector<batch_command>& batch_commands()
{
    // One entry per command, e.g.
    //   {.name = "firmware", .operand = "FILE", .takes_class = true,
    //    .summary = "update the firmware of the units (or of their TAPs of --class) from FILE",
    //    .run = [](batch_context& ctx, const options& o) {
    //        const auto path = operand_path(o);
    //        return OnFirmwareUpdate(ctx, &path);
    //    }},
    static const std::vector<batch_command> table = {
        {.name = "firmware",
         .operand = "FILE",
         .takes_class = true,
         .summary = "update the firmware of the units (or of their TAPs of --class) from FILE",
         .run = [](batch_context& ctx, const options& o) {
             const auto path = operand_path(o);
             return OnFirmwareUpdate(ctx, &path);
         }},
    };
    return table;
}

bool batch_command::accepts_flag(std::string_view flag) const
{
    return std::any_of(flags.begin(), flags.end(), [&](const char* f) { return flag == f; });
}

const batch_command* find_batch_command(std::string_view name)
{
    for (const batch_command& c : batch_commands())
        if (name == c.name)
            return &c;
    return nullptr;
}

int class_by_name(std::string_view name)
{
    auto lower = [](std::string_view s) {
        std::string out(s);
        for (char& c : out)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return out;
    };
    for (int c = class_multi_port_tap; c <= class_ambient_hub; ++c)
        if (lower(product_class_name(c)) == lower(name))
            return c;
    return 0;
}

int select_class(unit_group& group, int cls, std::string& error)
{
    if (cls == 0) {
        // The units' own class, when they share one.
        for (const auto& u : group.units()) {
            if (u->product_class == class_unknown)
                continue;
            if (cls && u->product_class != cls) {
                error = "the units are of two classes (" + std::string(product_class_name(cls)) + ", " +
                        std::string(product_class_name(u->product_class)) + "): choose one with --class";
                return 0;
            }
            cls = u->product_class;
        }
        if (cls == 0) {
            error = "no unit to run on";
            return 0;
        }
    }
    const bool hub = cls == class_orvane_system || cls == class_talvor_system;
    int n = 0;
    for (const auto& u : group.units()) {
        u->selected = hub && u->product_class == cls;
        n += u->selected;
        for (const auto& t : u->taps) {
            t->selected = !hub && t->product_class == cls;
            n += t->selected;
        }
    }
    group.selected_class = n ? cls : class_unknown;
    if (n == 0)
        error = "no " + std::string(hub ? "unit" : "TAP") + " of class \"" + std::string(product_class_name(cls)) +
                "\" among the units";
    return n;
}

int run_batch(const options& opts, batch_context& ctx, terminal_dialogs& ui, const run_report& refresh,
              const std::atomic<bool>& interrupted)
{
    const batch_command& cmd = *opts.batch;
    std::string error;
    const int cls = opts.class_name ? class_by_name(*opts.class_name) : 0;
    const bool selected = !interrupted && select_class(ctx.manager.group(), cls, error) > 0;
    if (!selected && !interrupted && !ctx.manager.group().units().empty())
        std::fprintf(stderr, "talvorctl: %s: %s\n", cmd.name, error.c_str());
    if (selected)
        cmd.run(ctx, opts);

    struct row {
        std::string address, label, result, error;
    };
    std::vector<row> rows;
    bool any_failed = false;
    if (selected)
        for (const batch_outcome& o : ctx.outcomes()) {
            row r{o.unit->address_string(), o.unit->label, "ok", {}};
            if (o.result != job_succeeded) {
                r.result = o.result == job_running ? "cancelled" : "failed";
                r.error = o.result == job_running ? "did not report" : o.reason;
                any_failed = true;
            }
            rows.push_back(std::move(r));
        }
    for (const auto& f : refresh.failed_units()) {
        rows.push_back({f.address, f.label, "failed", f.error});
        any_failed = true;
    }
    const bool nothing_sent = ctx.outcomes().empty();

    if (opts.json) {
        json_writer w;
        w.begin_object();
        w.key("command"), w.value(cmd.name);
        w.key("cancelled"), w.value(interrupted.load());
        w.key("units");
        w.begin_array();
        for (const row& r : rows) {
            w.begin_object();
            w.key("address"), w.value(r.address);
            w.key("label"), w.value(r.label);
            w.key("result"), w.value(r.result);
            w.key("error");
            if (r.error.empty() && r.result == "ok")
                w.null();
            else
                w.value(r.error);
            w.end_object();
        }
        w.end_array();
        w.end_object();
        std::printf("%s\n", w.text().c_str());
    } else {
        for (const row& r : rows) {
            std::string line = r.result + ": " + r.address;
            if (!r.label.empty() && r.label != r.address)
                line += " (" + r.label + ")";
            if (!r.error.empty())
                line += ": " + r.error;
            std::printf("%s\n", line.c_str());
        }
    }
    std::fflush(stdout);
    if (nothing_sent)
        std::fprintf(stderr, "talvorctl: %s: nothing was sent to the units\n", cmd.name);

    if (interrupted)
        return 130;
    if (ui.unanswered()) {
        std::fprintf(stderr, "talvorctl: %s asks questions and there is no terminal to answer them on: "
                             "give --yes to answer them with the button that goes on\n",
                     cmd.name);
        return 2;
    }
    return any_failed || nothing_sent || ui.errors_shown() ? 1 : 0;
}

} // namespace talvor::cli
