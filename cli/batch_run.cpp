#include "cli/batch_run.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

#include "transport/json_writer.h"
#include "cli/run_report.h"
#include "cli/terminal_dialogs.h"
#include "inventory/code_tables.h"
#include "cli/launch.h"
#include "operations/batch_report.h"
#include "operations/commands.h"
#include "operations/firmware_verify.h"
#include "transport/path_text.h"

namespace talvor::cli {

// The path operand as the core takes it.
static std::filesystem::path operand_path(const options& o)
{
    return utf8_path(o.operand.value_or(""));
}

namespace {

std::string one_of(const options& o, const char* a, const char* b)
{
    if (o.has(a) && o.has(b))
        return std::string(a) + " and " + b + " do not go together";
    return {};
}

// The restart question "Restart TAPs" answered by --with-taps or --no-taps.
std::optional<task_dialog_answer> restart_taps_answer(const task_dialog_request& r, const options& o)
{
    if (r.main_instruction != "Restart TAPs" || !(o.has("--with-taps") || o.has("--no-taps")))
        return std::nullopt;
    task_dialog_answer a;
    a.button = o.has("--with-taps") ? IDYES : IDNO;
    return a;
}

int open_unit(batch_context&, CHubDevice& unit, const options& o, std::string& detail)
{
    detail = unit_browser_url(unit);
    if (detail.empty()) {
        detail = "no session to the unit";
        return -1;
    }
    if (o.has("--launch") && launch_browser(detail) != 0) {
        detail = "xdg-open " + detail + " failed";
        return -1;
    }
    return 0;
}

int trust_unit(batch_context& ctx, CHubDevice& unit, const options&, std::string& detail)
{
    if (trust_unit_certificate(ctx, unit) == 0)
        return 0;
    detail = "Certificate Import Failed";
    return -1;
}

} // namespace

const std::vector<batch_command>& batch_commands()
{
    static const std::vector<batch_command> table = {
        {.name = "firmware",
         .operand = "FILE",
         .takes_class = true,
         .flags = {{"--verify"}, {"--verify-timeout", "SECONDS"}},
         .summary = "update the firmware of the units (or of their TAPs of --class) from FILE",
         .notes = "                         --verify: wait for each unit to answer again (--verify-timeout,\n"
                  "                         default 300 s) and compare its version with the one before\n",
         .run = [](batch_context& ctx, const options& o) {
             const auto path = operand_path(o);
             const int result = OnFirmwareUpdate(ctx, &path);
             // --verify ticked the confirmation's check box.
             if (!ctx.verify_chosen || ctx.outcomes().empty())
                 return result;
             const auto seconds = o.value("--verify-timeout");
             return verify_firmware(ctx, seconds ? std::chrono::seconds(whole_number(*seconds, 1, 86400).value_or(300))
                                                 : verify_timeout_default);
         },
         .check = [](const options& o) -> std::string {
             const auto t = o.value("--verify-timeout");
             if (t && !o.has("--verify"))
                 return "--verify-timeout goes with --verify";
             if (t && !whole_number(*t, 1, 86400))
                 return "--verify-timeout needs a number of seconds from 1 to 86400, not '" + *t + "'";
             return {};
         }},
        {.name = "download-config",
         .flags = {{"--out", "FILE"}, {"--folder", "DIR"}},
         .summary = "save the configuration of one unit as --out FILE, or of any number into --folder DIR",
         .notes = "                         (named after the unit's serial, or its MAC)\n",
         .run = [](batch_context& ctx, const options&) { return OnDownloadConfiguration(ctx); },
         .asks = false,
         .check = [](const options& o) { return one_of(o, "--out", "--folder"); }},
        {.name = "upload-config",
         .operand = "FILE",
         .flags = {{"--category", "NAME", true}, {"--all-categories"}},
         .summary = "upload the configuration FILE, the categories of --category NAME (or all of them)",
         .notes = "                         --yes alone uploads every category all units offer\n",
         .run = [](batch_context& ctx, const options& o) {
             const auto path = operand_path(o);
             return OnUploadConfiguration(ctx, &path);
         },
         .check = [](const options& o) { return one_of(o, "--category", "--all-categories"); }},
        {.name = "upload-ct",
         .operand = "FILE",
         .summary = "upload the CT type table FILE (.csv)",
         .run = [](batch_context& ctx, const options& o) {
             const auto path = operand_path(o);
             return OnUploadCtTypes(ctx, &path);
         }},
        {.name = "customize",
         .operand = "FILE",
         .operand_or = "--remove",
         .flags = {{"--remove"}},
         .summary = "upload the customization FILE (.cst), or remove the customization",
         .run = [](batch_context& ctx, const options& o) {
             if (o.has("--remove"))
                 return OnUploadCustomization(ctx, nullptr, 0);
             const auto path = operand_path(o);
             return OnUploadCustomization(ctx, &path, 1);
         }},
        {.name = "restart",
         .takes_class = true,
         .flags = {{"--with-taps"}, {"--no-taps"}},
         .summary = "restart the units, with or without their TAPs (or the TAPs of --class)",
         .notes = "                         without either switch the question is asked; --yes alone: units only\n",
         .run = [](batch_context& ctx, const options&) { return OnRestart(ctx); },
         .check = [](const options& o) { return one_of(o, "--with-taps", "--no-taps"); },
         .preset = restart_taps_answer},
        {.name = "erase-sd",
         .summary = "erase the SD card of the units",
         .run = [](batch_context& ctx, const options&) { return OnEraseSdCard(ctx); }},
        {.name = "cert-upload",
         .operand = "FILE",
         .summary = "upload the user TLS certificate FILE (.pem, .der)",
         .run = [](batch_context& ctx, const options& o) {
             const auto path = operand_path(o);
             return OnUploadCertificate(ctx, &path);
         }},
        {.name = "cert-key",
         .operand = "FILE",
         .summary = "upload the private key FILE of the user TLS certificate",
         .run = [](batch_context& ctx, const options&) { return OnUploadCertificateKey(ctx); }},
        {.name = "cert-regenerate",
         .summary = "generate a new self-signed fallback certificate on the units",
         .run = [](batch_context& ctx, const options&) { return OnRegenerateFallbackCertificate(ctx); }},
        {.name = "cert-erase",
         .summary = "delete the user TLS certificate and key of the units",
         .run = [](batch_context& ctx, const options&) { return OnEraseCertificate(ctx); }},
        {.name = "set-password",
         .flags = {{"--new-password-file", "FILE"}},
         .summary = "change the administrator password of the units (typed twice, or --new-password-file FILE)",
         .notes = "                         the file's bytes are the password, one trailing newline dropped\n",
         .run = [](batch_context& ctx, const options&) { return OnChangePassword(ctx); },
         .check = [](const options& o) -> std::string {
             // --yes answers questions; it never makes up a password.
             if (o.yes && !o.value("--new-password-file"))
                 return "--yes needs --new-password-file FILE";
             return {};
         }},
        {.name = "trust-cert",
         .summary = "trust the certificate each unit presents (later TLS checks pass it)",
         .each = trust_unit,
         .asks = false},
        {.name = "open",
         .flags = {{"--launch"}},
         .summary = "print the web address of each unit; --launch opens it with xdg-open",
         .each = open_unit,
         .asks = false},
    };
    return table;
}

const command_flag* batch_command::find_flag(std::string_view flag) const
{
    for (const command_flag& f : flags)
        if (flag == f.name)
            return &f;
    return nullptr;
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

namespace {

struct result_row {
    std::string address, label, result, error, url;
    std::string version_before, version_after;
};

// The commands without a batch: each unit the targets name, at once.
std::vector<result_row> run_each(const batch_command& cmd, batch_context& ctx, const options& opts)
{
    std::vector<result_row> rows;
    for (const auto& u : ctx.manager.group().units()) {
        std::string detail;
        const bool ok = cmd.each(ctx, *u, opts, detail) == 0;
        rows.push_back({u->address_string(), u->label, ok ? "ok" : "failed", ok ? "" : detail, ok ? detail : "", {}, {}});
    }
    return rows;
}

std::string versions_text(const result_row& r)
{
    if (r.version_before.empty())
        return {};
    return " (version " + r.version_before + (r.version_after.empty() ? "" : " -> " + r.version_after) + ")";
}

// The failed units as an address list: the same command runs on them alone
// with --list.
std::string retry_list_text(const std::vector<result_row>& rows)
{
    std::string text;
    for (const result_row& r : rows)
        if (r.result != "ok")
            text += r.address + (r.label.empty() || r.label == r.address ? "" : "  # " + r.label) + "\n";
    return text;
}

bool write_text_file(const std::string& path, const std::string& text)
{
    std::FILE* f = open_file(utf8_path(path), "w");
    if (!f)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && written;
}

// The report lines of the batch, the units the refresh dropped included.
std::string report_lines(batch_context& ctx, const batch_command& cmd, const run_report& refresh)
{
    std::string lines = batch_report(ctx);
    batch_file file = ctx.file();
    if (file.command.empty())
        file.command = cmd.name;
    for (const auto& f : refresh.failed_units()) {
        batch_outcome o;
        o.result = job_failed;
        o.reason = f.error;
        o.address = f.address;
        o.label = f.label;
        lines += batch_report_line(o, file) + "\n";
    }
    return lines;
}

// A selected unit the command passed over (it did not offer what the
// command needs, as last read, say a failed read of its categories) still
// gets a row: a script that listed it must not take silence for success,
// and the retry list gives it another reading.
void add_units_left_out(batch_context& ctx, std::vector<result_row>& rows)
{
    std::set<const CHubDevice*> reported;
    for (const batch_outcome& o : ctx.outcomes())
        reported.insert(o.unit);
    for (const auto& u : ctx.manager.group().units())
        if (u->selected && !reported.count(u.get()))
            rows.push_back({u->address_string(), u->label, "failed", "not offered by the unit", {}, {}, {}});
}

} // namespace

int run_batch(const options& opts, batch_context& ctx, terminal_dialogs& ui, const run_report& refresh,
              const std::atomic<bool>& interrupted)
{
    const batch_command& cmd = *opts.batch;
    std::vector<result_row> rows;
    bool nothing_sent = false;
    if (cmd.each) {
        if (!interrupted)
            rows = run_each(cmd, ctx, opts);
    } else {
        std::string error;
        const int cls = opts.class_name ? class_by_name(*opts.class_name) : 0;
        const bool selected = !interrupted && select_class(ctx.manager.group(), cls, error) > 0;
        if (!selected && !interrupted && !ctx.manager.group().units().empty())
            std::fprintf(stderr, "talvorctl: %s: %s\n", cmd.name, error.c_str());
        ctx.parallel = opts.parallel;
        if (selected)
            cmd.run(ctx, opts);
        if (selected)
            for (const batch_outcome& o : ctx.outcomes()) {
                result_row r{o.unit->address_string(), o.unit->label, "ok", {}, {}, o.version_before, o.version_after};
                if (o.result != job_succeeded) {
                    r.result = o.result == job_running ? "cancelled" : "failed";
                    r.error = o.result == job_running ? "did not report" : o.reason;
                }
                rows.push_back(std::move(r));
            }
        nothing_sent = ctx.outcomes().empty();
        if (!nothing_sent)
            add_units_left_out(ctx, rows);
    }
    for (const auto& f : refresh.failed_units())
        rows.push_back({f.address, f.label, "failed", f.error, {}, {}, {}});
    const bool any_failed =
        std::any_of(rows.begin(), rows.end(), [](const result_row& r) { return r.result != "ok"; });

    if (opts.json) {
        json_writer w;
        w.begin_object();
        w.key("command"), w.value(cmd.name);
        w.key("cancelled"), w.value(interrupted.load());
        w.key("units");
        w.begin_array();
        for (const result_row& r : rows) {
            w.begin_object();
            w.key("address"), w.value(r.address);
            w.key("label"), w.value(r.label);
            w.key("result"), w.value(r.result);
            w.key("error");
            if (r.error.empty() && r.result == "ok")
                w.null();
            else
                w.value(r.error);
            if (!r.url.empty())
                w.key("url"), w.value(r.url);
            if (!r.version_before.empty())
                w.key("version_before"), w.value(r.version_before);
            if (!r.version_after.empty())
                w.key("version_after"), w.value(r.version_after);
            w.end_object();
        }
        w.end_array();
        w.key("failed");
        w.begin_array();
        for (const result_row& r : rows)
            if (r.result != "ok")
                w.value(r.address);
        w.end_array();
        w.end_object();
        std::printf("%s\n", w.text().c_str());
    } else {
        for (const result_row& r : rows) {
            std::string line = r.result + ": " + r.address;
            if (!r.label.empty() && r.label != r.address)
                line += " (" + r.label + ")";
            if (!r.error.empty())
                line += ": " + r.error;
            else if (!r.url.empty())
                line += ": " + r.url;
            std::printf("%s%s\n", line.c_str(), versions_text(r).c_str());
        }
        if (any_failed && !cmd.each)
            std::printf("# failed units (run again on them with --list and a file of these lines):\n%s",
                        retry_list_text(rows).c_str());
    }
    std::fflush(stdout);
    if (nothing_sent)
        std::fprintf(stderr, "talvorctl: %s: nothing was sent to the units\n", cmd.name);

    bool files_failed = false;
    if (!cmd.each) {
        if (opts.retry_list && !write_text_file(*opts.retry_list, "# failed units of talvorctl " +
                                                                      std::string(cmd.name) + "\n" +
                                                                      retry_list_text(rows))) {
            std::fprintf(stderr, "talvorctl: cannot write the retry list '%s'\n", opts.retry_list->c_str());
            files_failed = true;
        }
        const std::string lines = report_lines(ctx, cmd, refresh);
        if (!lines.empty() && append_batch_log(lines) != 0)
            std::fprintf(stderr, "talvorctl: cannot add to the batch log in '%s'\n", path_text(batch_log_folder()).c_str());
        if (opts.report_file && !write_text_file(*opts.report_file, lines)) {
            std::fprintf(stderr, "talvorctl: cannot write the report '%s'\n", opts.report_file->c_str());
            files_failed = true;
        }
    }

    if (interrupted)
        return 130;
    if (ui.usage_errors())
        return 2;
    if (ui.unanswered()) {
        std::fprintf(stderr, "talvorctl: %s asks questions and there is no terminal to answer them on: "
                             "give --yes to answer them with the button that goes on\n",
                     cmd.name);
        return 2;
    }
    return any_failed || nothing_sent || rows.empty() || files_failed || ui.errors_shown() ? 1 : 0;
}

} // namespace talvor::cli
