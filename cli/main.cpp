// talvorctl: refreshes hub units by address, address list or discovery,
// through the same core as the window, and prints what it found, or runs
// one batch command over them.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/batch_run.h"
#include "cli/options.h"
#include "cli/process.h"
#include "cli/run_report.h"
#include "cli/secrets.h"
#include "cli/targets.h"
#include "cli/terminal.h"
#include "cli/terminal_dialogs.h"
#include "cli/user_settings.h"
#include "inventory/address_entry.h"
#include "inventory/password_text.h"
#include "inventory/window_bridge_headless.h"
#include "operations/unit_manager.h"
#include "transport/open_files.h"

using namespace talvor;
using namespace talvor::cli;

namespace {

constexpr int exit_ok = 0;
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;
constexpr int exit_interrupted = 130;

std::string usage_command; // this run's command, for the usage errors' hint

// The reason and where to read more; the help itself would drown the reason.
int usage_error(const std::string& message)
{
    std::fprintf(stderr, "talvorctl: %s\n%s\n", message.c_str(), usage_hint(usage_command).c_str());
    return exit_usage;
}

std::string progress_text(const run_report& report, std::size_t busy)
{
    return "refreshing units: " + std::to_string(report.finished()) + " of " +
           std::to_string(report.finished() + busy) + " done";
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args = start_process(argc, argv);
    talvor::raise_open_file_limit();
    std::string error;
    usage_command = command_word(args);
    auto parsed = parse_options(args, error);
    if (!parsed)
        return usage_error(error);
    const options& opts = *parsed;
    if (opts.help) {
        std::fputs((opts.help_command.empty() ? usage_text() : command_help(opts.help_command)).c_str(), stdout);
        return exit_ok;
    }
    if (opts.version) {
        std::puts("talvorctl " TALVOR_VERSION);
        return exit_ok;
    }
    // Every target resolves and every file is fit before a unit is contacted.
    const resolved_targets targets = resolve_targets(opts);
    if (!targets.error.empty())
        return usage_error(targets.error);
    if (opts.batch) {
        if (const std::string problem = check_command_files(opts); !problem.empty())
            return usage_error(problem);
        if (opts.batch->asks && !opts.yes && !stdin_is_terminal())
            return usage_error(std::string(opts.batch->name) +
                               " asks questions and there is no terminal to answer them on: give --yes to answer "
                               "them with the button that goes on");
    }
    terminal_dialogs dialogs(opts);
    credentials own_passwords;
    if (opts.credentials_file) {
        if (const std::string problem = own_passwords.load(*opts.credentials_file); !problem.empty())
            return usage_error(problem);
        dialogs.set_credentials(&own_passwords);
    }
    const bool new_password_stdin = opts.batch && opts.has("--new-password-stdin");
    if (opts.password_stdin || new_password_stdin) {
        std::vector<std::string> lines;
        const std::string problem = read_stdin_lines((opts.password_stdin ? 1 : 0) + (new_password_stdin ? 1 : 0), lines);
        if (problem.empty() && opts.password_stdin)
            dialogs.set_password(std::move(lines.front()));
        if (problem.empty() && new_password_stdin)
            dialogs.set_new_password(std::move(lines.back()));
        for (std::string& line : lines)
            wipe(line);
        if (!problem.empty())
            return usage_error(problem);
    }
    const bool unattended = opts.password_file || opts.password_stdin || !stdin_is_terminal();
    if (opts.password_file) {
        if (!dialogs.load_password_file(*opts.password_file))
            return usage_error("cannot read the password file '" + *opts.password_file + "'");
    } else if (!opts.password_stdin && !opts.credentials_file && !stdin_is_terminal()) {
        return usage_error("no terminal to ask for the password on: give --password-file FILE, --password-stdin "
                           "or --credentials FILE");
    }

    const auto store = open_user_settings();
    AppSettings settings;
    settings.assign(load_settings(*store));
    if (opts.tls_checks)
        settings.tls_checks = *opts.tls_checks; // this run only; never saved
    const bool discovering = opts.what == command::discover || opts.discover_targets;
    if (discovering)
        settings.discover_flags = settings.discover_flags | 1; // asked for explicitly

    headless_bridge bridge;
    progress_line line(stderr_is_terminal());
    dialogs.set_progress_line(&line);
    run_report report;
    unit_manager manager(bridge, dialogs, settings, &report);
    // A password nobody types is offered once: a refusal ends the unit.
    if (unattended)
        manager.env().max_password_rounds = 1;
    manager.env().password_per_unit = opts.credentials_file.has_value();
    manager.env().step_limit = std::chrono::seconds(opts.timeout_seconds);

    std::atomic<bool> interrupted{false};
    // The shut-down then runs as ordinary code on the UI thread.
    stop_watch watch([&] {
        interrupted.store(true);
        interrupt_terminal_reads(); // a question waiting on the terminal ends
        bridge.post_task([] {});
    });

    std::vector<ip_address> addresses = targets.addresses;
    // config-diff --unit: the unit compared with is read like the others.
    if (const auto reference = opts.batch ? opts.value("--unit") : std::nullopt) {
        bool empty = false;
        const auto a = parse_address_box(*reference, empty);
        if (a && std::find(addresses.begin(), addresses.end(), *a) == addresses.end())
            addresses.push_back(*a);
    }
    if (discovering)
        manager.discover();
    else
        manager.add_addresses(addresses);

    const auto wait_for_refresh = [&] {
        line.draw(progress_text(report, manager.busy().size()));
        while (!bridge.run_until([&] { return interrupted || manager.idle(); }, std::chrono::milliseconds(200)))
            line.draw(progress_text(report, manager.busy().size()));
    };
    wait_for_refresh();
    // --retries: units that did not answer, or whose reads failed, are
    // refreshed again before the command runs.
    for (std::size_t round = 0; round < opts.retries && !interrupted; ++round) {
        const std::vector<ip_address> again = report.take_passing_failures();
        if (again.empty())
            break;
        manager.add_addresses(again);
        wait_for_refresh();
    }
    if (interrupted) {
        manager.shut_down(); // cancels every unit still at work
        report.add_unfinished(manager.group());
    } else {
        line.draw(progress_text(report, 0));
    }
    line.finish();

    if (discovering && !interrupted && report.finished() == 0 && opts.batch) {
        manager.shut_down();
        return usage_error("discovery found no units");
    }
    if (opts.batch) {
        dialogs.set_bridge(&bridge);
        dialogs.set_stop_flag(&interrupted);
        batch_context ctx(manager, dialogs);
        const int status = run_batch(opts, ctx, dialogs, report, interrupted);
        manager.shut_down(); // before the batch context goes
        return status;
    }

    std::fputs(opts.json ? report.json().c_str() : opts.csv ? report.csv().c_str() : report.text().c_str(), stdout);
    std::fflush(stdout);
    if (opts.csv) // the CSV has no rows for them, so they are not lost from sight
        std::fputs(report.dropped_text().c_str(), stderr);
    manager.shut_down();

    if (interrupted)
        return exit_interrupted;
    return report.failures() || report.duplicates() || dialogs.errors_shown() ? exit_failed : exit_ok;
}
