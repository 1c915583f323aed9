#include "cli/batch_run.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>

#include "transport/json_writer.h"
#include "cli/run_report.h"
#include "cli/targets.h"
#include "cli/terminal_dialogs.h"
#include "inventory/code_tables.h"
#include "cli/launch.h"
#include "operations/batch_report.h"
#include "operations/commands.h"
#include "operations/firmware_verify.h"
#include "transport/file_bytes.h"
#include "transport/path_text.h"
#include "inventory/password_text.h"
#include "inventory/address_entry.h"

namespace talvor::cli {

// The path operand as the core takes it.
static std::filesystem::path operand_path(const options& o)
{
    return utf8_path(o.operand.value_or(""));
}

namespace {

// "0.65.0" from "0.65.0" or "v0.65.0": the digits and dots a unit reports
// its versions in; empty for anything else.
std::string target_version_text(std::string_view v)
{
    if (!v.empty() && (v.front() == 'v' || v.front() == 'V'))
        v.remove_prefix(1);
    const bool fit = !v.empty() && std::isdigit(static_cast<unsigned char>(v.front())) &&
                     std::isdigit(static_cast<unsigned char>(v.back())) &&
                     v.find_first_not_of("0123456789.") == std::string_view::npos &&
                     v.find("..") == std::string_view::npos;
    return fit ? std::string(v) : std::string();
}

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

// config-diff: against the file, or against the --unit unit's configuration
// read first (that unit is not compared with itself).
int compare_configurations(batch_context& ctx, const options& o)
{
    const auto reference_address = o.value("--unit");
    if (!reference_address)
        return OnCompareConfiguration(ctx, operand_path(o));
    bool empty = false;
    const auto wanted = parse_address_box(*reference_address, empty);
    CHubDevice* reference = nullptr;
    for (const auto& u : ctx.manager.group().units())
        if (wanted && u->address == *wanted)
            reference = u.get();
    std::string reason = "it was not read";
    std::optional<byte_vector> bytes;
    if (reference) {
        // Reading it is a batch of its own, which ends the selection's use:
        // keep the selection and give it back after.
        std::vector<std::pair<CHubDevice*, int>> selected;
        for (const auto& u : ctx.manager.group().units())
            selected.emplace_back(u.get(), u->selected);
        bytes = read_configuration(ctx, *reference, reason);
        for (auto [u, s] : selected)
            u->selected = s;
        // Compared with itself only when named among the targets too.
        const auto named = resolve_targets(o).addresses;
        if (std::find(named.begin(), named.end(), *wanted) == named.end())
            reference->selected = 0;
    }
    if (!bytes) {
        std::fprintf(stderr, "talvorctl: config-diff: the unit to compare with, %s: %s\n", reference_address->c_str(),
                     reason.c_str());
        return 0;
    }
    return OnCompareConfiguration(ctx, std::make_shared<const byte_vector>(std::move(*bytes)));
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
    // Trusting mends "untrusted" alone: what still fails is said, and a
    // unit the checks still refuse is not done.
    const int r = trust_unit_certificate(ctx, unit, &detail);
    if (r == -1)
        detail = "Certificate Import Failed";
    return r == 0 || r == 2 ? 0 : -1;
}

} // namespace

const std::vector<batch_command>& batch_commands()
{
    static const std::vector<batch_command> table = {
        {.name = "firmware",
         .title = "Update Firmware",
         .operand = "FILE",
         .operand_kind = input_kind::firmware,
         .taps = true,
         .flags = {{"--verify"}, {"--verify-timeout", "SECONDS"}, {"--target-version", "VERSION"}},
         .summary = "update the firmware of the units (or of their TAPs of --class) from FILE",
         .notes = "                         --verify: wait for each unit to answer again (--verify-timeout,\n"
                  "                         default 300 s) and compare its version with the one before\n"
                  "                         --target-version: the version FILE installs; units (or TAPs) on it\n"
                  "                         already are left unchanged, and --verify wants it back\n",
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
             if (const auto v = o.value("--target-version"); v && target_version_text(*v).empty())
                 return "--target-version needs a version such as 0.65.0, not '" + *v + "'";
             return {};
         }},
        {.name = "download-config",
         .title = "Download Configuration",
         .flags = {{"--out", "FILE"}, {"--folder", "DIR"}},
         .summary = "save the configuration of one unit as --out FILE, or of any number into --folder DIR",
         .notes = "                         (named after the unit's serial, or its MAC)\n",
         .run = [](batch_context& ctx, const options& o) {
             // --folder names every unit's file by one rule, one unit or many.
             if (const auto folder = o.value("--folder")) {
                 const auto path = utf8_path(*folder);
                 return OnDownloadConfiguration(ctx, &path);
             }
             return OnDownloadConfiguration(ctx);
         },
         .asks = false,
         .check = [](const options& o) { return one_of(o, "--out", "--folder"); }},
        {.name = "upload-config",
         .title = "Upload Configuration",
         .operand = "FILE",
         .operand_kind = input_kind::configuration,
         .flags = {{"--category", "NAME", true}, {"--all-categories"}, {"--only-if-different"}},
         .summary = "upload the configuration FILE, the categories of --category NAME (or all of them)",
         .notes = "                         --yes alone uploads every category all units offer;\n"
                  "                         --only-if-different leaves units whose configuration matches FILE\n",
         .run = [](batch_context& ctx, const options& o) {
             const auto path = operand_path(o);
             return OnUploadConfiguration(ctx, &path);
         },
         .check = [](const options& o) { return one_of(o, "--category", "--all-categories"); }},
        {.name = "upload-ct",
         .title = "Upload CT Type Table",
         .operand = "FILE",
         .operand_kind = input_kind::ct_table,
         .summary = "upload the CT type table FILE (.csv)",
         .run = [](batch_context& ctx, const options& o) {
             const auto path = operand_path(o);
             return OnUploadCtTypes(ctx, &path);
         }},
        {.name = "customize",
         .title = "Upload Customization",
         .operand = "FILE",
         .operand_kind = input_kind::customisation,
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
         .title = "Restart Devices",
         .taps = true,
         .flags = {{"--with-taps"}, {"--no-taps"}},
         .summary = "restart the units, with or without their TAPs (or the TAPs of --class)",
         .notes = "                         without either switch the question is asked; --yes alone: units only\n",
         .run = [](batch_context& ctx, const options&) { return OnRestart(ctx); },
         .check = [](const options& o) { return one_of(o, "--with-taps", "--no-taps"); },
         .preset = restart_taps_answer},
        {.name = "erase-sd",
         .title = "Erase SD-Card",
         .summary = "erase the SD card of the units",
         .run = [](batch_context& ctx, const options&) { return OnEraseSdCard(ctx); }},
        {.name = "cert-upload",
         .title = "Upload User Certificate",
         .operand = "FILE",
         .operand_kind = input_kind::certificate,
         .summary = "upload the user TLS certificate FILE (.pem, .der)",
         .run = [](batch_context& ctx, const options& o) {
             const auto path = operand_path(o);
             return OnUploadCertificate(ctx, &path);
         }},
        {.name = "cert-key",
         .title = "Upload User Certificate Key",
         .operand = "FILE",
         .operand_kind = input_kind::private_key,
         .summary = "upload the private key FILE of the user TLS certificate",
         .run = [](batch_context& ctx, const options&) { return OnUploadCertificateKey(ctx); }},
        {.name = "cert-regenerate",
         .title = "Regenerate Fallback Certificate",
         .summary = "generate a new self-signed fallback certificate on the units",
         .run = [](batch_context& ctx, const options&) { return OnRegenerateFallbackCertificate(ctx); }},
        {.name = "cert-erase",
         .title = "Erase User Certificate & Key",
         .summary = "delete the user TLS certificate and key of the units",
         .run = [](batch_context& ctx, const options&) { return OnEraseCertificate(ctx); }},
        {.name = "set-password",
         .title = "Change Password",
         .flags = {{"--new-password-file", "FILE"}, {"--new-password-stdin"}},
         .summary = "change the administrator password of the units (typed twice, or --new-password-file FILE)",
         .notes = "                         the file's bytes are the password, one trailing newline dropped;\n"
                  "                         units that take the new password already are left unchanged\n",
         .run = [](batch_context& ctx, const options&) { return OnChangePassword(ctx); },
         .check = [](const options& o) -> std::string {
             if (std::string both = one_of(o, "--new-password-file", "--new-password-stdin"); !both.empty())
                 return both;
             // --yes answers questions; it never makes up a password.
             if (o.yes && !o.value("--new-password-file") && !o.has("--new-password-stdin"))
                 return "--yes needs --new-password-file FILE or --new-password-stdin";
             return {};
         }},
        {.name = "config-diff",
         .title = "Compare Configuration",
         .operand = "FILE",
         .operand_kind = input_kind::configuration,
         .operand_or = "--unit",
         .flags = {{"--unit", "ADDRESS"}},
         .summary = "compare the configuration of the units with FILE (or with the unit at --unit ADDRESS)",
         .notes = "                         each unit is compliant or the keys that differ are listed; reads only\n",
         .run = compare_configurations,
         .asks = false,
         .check = [](const options& o) -> std::string {
             bool empty = false;
             if (const auto a = o.value("--unit"); a && !parse_address_box(*a, empty))
                 return "--unit needs a unit's IP address, not '" + *a + "'";
             return {};
         }},
        {.name = "trust-cert",
         .title = "Trust Certificate",
         .summary = "trust the certificate each unit presents (later TLS checks pass it)",
         .each = trust_unit,
         .asks = false},
        {.name = "open",
         .title = "Open in browser",
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

namespace {

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool hub_class(int c) { return c == class_orvane_system || c == class_talvor_system; }

// A product class present among the units, with its count and, for TAPs,
// the TAP kinds it covers there and their counts.
struct present_class {
    int units = 0, taps = 0;
    std::map<std::string, int> kinds;
};

std::map<int, present_class> classes_present(const unit_group& group)
{
    std::map<int, present_class> out;
    for (const auto& u : group.units()) {
        if (u->product_class != class_unknown)
            ++out[u->product_class].units;
        for (const auto& t : u->taps) {
            if (t->product_class == class_unknown)
                continue;
            present_class& p = out[t->product_class];
            ++p.taps;
            ++p.kinds[std::string(tap_class_name(t->tap_class))];
        }
    }
    return out;
}

std::string count_text(int n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); }

std::string kinds_text(const present_class& p)
{
    std::string out;
    for (const auto& [kind, n] : p.kinds)
        out += (out.empty() ? "" : ", ") + kind + " (" + std::to_string(n) + ")";
    return out;
}

} // namespace

int class_by_name(std::string_view name)
{
    const std::string wanted = lower(name);
    for (int c = class_multi_port_tap; c <= class_ambient_hub; ++c)
        if (lower(product_class_name(c)) == wanted)
            return c;
    for (int t = tap_4_port; t <= tap_talvor_compact; ++t)
        if (lower(tap_class_name(t)) == wanted)
            return tap_product_class(t);
    return 0;
}

class_choice choose_class(const unit_group& group, std::string_view name, bool taps_allowed, std::string_view verb)
{
    class_choice choice;
    const auto present = classes_present(group);
    const int cls = class_by_name(name);
    const auto found = present.find(cls);
    std::string listed;
    for (const auto& [c, p] : present) {
        if (!taps_allowed && !hub_class(c))
            continue;
        listed += (listed.empty() ? "" : "; ") + std::string(product_class_name(c)) + " (" +
                  (hub_class(c) ? count_text(p.units, "unit") : count_text(p.taps, "TAP") + ": " + kinds_text(p)) +
                  ")";
    }
    if (listed.empty())
        listed = "none";
    if (cls == 0 || found == present.end() || (!taps_allowed && !hub_class(cls))) {
        const std::string head = cls == 0                           ? "unknown class \"" + std::string(name) + "\""
                                 : !taps_allowed && !hub_class(cls) ? std::string(verb) + " acts on units, not TAPs"
                                                                    : "no unit or TAP of class \"" + std::string(name) +
                                                                          "\" among the units";
        choice.error = head + "; the classes present: " + listed;
        return choice;
    }
    choice.product_class = cls;
    if (!hub_class(cls)) {
        const std::string product = std::string(product_class_name(cls));
        choice.note = lower(name) == lower(product)
                          ? "--class \"" + product + "\": "
                          : "--class \"" + std::string(name) + "\" stands for the product class \"" + product + "\": ";
        choice.note += count_text(found->second.taps, "TAP") + " of the kinds " + kinds_text(found->second);
    }
    return choice;
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
                return -1;
            }
            cls = u->product_class;
        }
        if (cls == 0) {
            error = "no unit to run on";
            return 0;
        }
    }
    for (const auto& u : group.units()) {
        u->selected = 0;
        for (const auto& t : u->taps)
            t->selected = 0;
    }
    int n = 0;
    group.for_each_class_member(cls, [&](CHubDevice& unit, CTapDevice* tap) {
        (tap ? tap->selected : unit.selected) = 1;
        ++n;
    });
    group.selected_class = n ? cls : class_unknown;
    if (n == 0)
        error = "no " + std::string(hub_class(cls) ? "unit" : "TAP") + " of class \"" +
                std::string(product_class_name(cls)) + "\" among the units";
    return n;
}

std::string check_command_files(const options& o)
{
    const batch_command& cmd = *o.batch;
    auto named = [](const std::string& path, const std::string& why) {
        return why.empty() ? std::string() : path + ": " + why;
    };
    if (o.operand && cmd.operand_kind) {
        byte_vector bytes;
        if (std::string why = input_file_problem(utf8_path(*o.operand), *cmd.operand_kind, bytes); !why.empty())
            return named(*o.operand, why);
    }
    if (const auto out = o.value("--out"))
        if (std::string why = output_file_problem(utf8_path(*out)); !why.empty())
            return named(*out, why == "a folder, not a file" ? why + " (--folder DIR takes a folder)" : why);
    if (const auto folder = o.value("--folder"))
        if (std::string why = output_folder_problem(utf8_path(*folder)); !why.empty())
            return named(*folder, why);
    if (const auto file = o.value("--new-password-file")) {
        byte_vector bytes;
        if (std::string why = read_file_problem(utf8_path(*file), bytes); !why.empty())
            return named(*file, why);
        wipe(bytes);
    }
    for (const auto& written : {o.report_file, o.retry_list})
        if (written)
            if (std::string why = output_file_problem(utf8_path(*written)); !why.empty())
                return named(*written, why);
    return {};
}

namespace {

// One unit's line in the results: what happened to it, in words a script
// can key on (status) and a person can read (reason).
struct result_row {
    std::string address, label, serial;
    std::string product_class;
    std::string status;  // ok, unchanged, failed, cancelled, skipped, duplicate
    std::string reason;  // why, or what a success adds; empty for a plain ok
    std::string url;     // open
    std::string file;    // the file written for the unit
    std::string version_before, version_after;
    bool retry = false;  // another run may do it: it goes to the retry list
    bool undone = false; // something asked for was left undone
    bool changed = false;      // the command changed the unit
    bool would_change = false; // a dry run: it would
    std::string plan;          // a dry run: what it would do
    bool compared = false;     // its configuration was compared: `differences` holds the keys that differ
    std::vector<config_difference> differences;
};

result_row row_of(const batch_outcome& o)
{
    result_row r;
    r.address = o.unit ? o.unit->address_string() : o.address;
    r.label = o.unit ? o.unit->label : o.label;
    r.serial = o.serial;
    r.status = outcome_status(o);
    r.reason = o.result == job_running ? "did not report" : o.reason;
    r.file = o.file.empty() ? std::string() : path_text(o.file);
    r.version_before = o.version_before;
    r.version_after = o.version_after;
    r.undone = o.result != job_succeeded;
    r.retry = r.undone && o.worth_retrying;
    if (o.unit)
        r.product_class = product_class_name(o.unit->product_class);
    r.changed = o.changed;
    r.would_change = o.found.would_change;
    r.plan = o.found.plan;
    r.compared = o.found.compared;
    r.differences = o.found.differences;
    return r;
}

// A unit that refused the password or the security answers: trying again
// would only ask it again.
bool refused(const CHubDevice& unit)
{
    const unit_failure f = unit.login.failure.load();
    return f == unit_failure::login_refused || f == unit_failure::security_refused ||
           f == unit_failure::password_cancelled;
}

// Units that failed for a passing reason, worth another try in this run.
std::set<CHubDevice*> passing_failures(const batch_context& ctx)
{
    std::set<CHubDevice*> out;
    for (const batch_outcome& o : ctx.outcomes())
        if (o.unit && o.result == job_failed && o.worth_retrying && !o.cancelled && !refused(*o.unit))
            out.insert(o.unit);
    return out;
}

// Leaves selected only what is selected of `units` (their TAPs included).
void keep_selected(unit_group& group, const std::set<CHubDevice*>& units)
{
    for (const auto& u : group.units())
        if (!units.count(u.get())) {
            u->selected = 0;
            for (const auto& t : u->taps)
                t->selected = 0;
        }
}

bool comparing(const batch_command& cmd) { return std::string_view(cmd.name) == "config-diff"; }

// config-diff's words for a unit's outcome: compliant, drift or failed.
std::string compare_status(const result_row& r)
{
    if (r.status != "ok")
        return r.status;
    return r.differences.empty() ? "compliant" : "drift";
}

// The commands without a batch: each unit of the class (or every unit), at once.
std::vector<result_row> run_each(const batch_command& cmd, batch_context& ctx, const options& opts, int cls)
{
    std::vector<result_row> rows;
    for (const auto& u : ctx.manager.group().units()) {
        if (cls && u->product_class != cls)
            continue;
        std::string detail;
        const bool ok = cmd.each(ctx, *u, opts, detail) == 0;
        result_row r;
        r.address = u->address_string();
        r.label = u->label;
        r.serial = u->serial;
        r.status = ok ? "ok" : "failed";
        (ok && cmd.each == open_unit ? r.url : r.reason) = detail;
        r.undone = r.retry = !ok;
        rows.push_back(std::move(r));
    }
    return rows;
}

std::string versions_text(const result_row& r)
{
    if (r.version_before.empty())
        return {};
    return " (version " + r.version_before + (r.version_after.empty() ? "" : " -> " + r.version_after) + ")";
}

// The units another run may do, as an address list: the same command runs
// on them alone with --list.
std::string retry_list_text(const std::vector<result_row>& rows)
{
    std::string text;
    for (const result_row& r : rows)
        if (r.retry)
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

// The report lines of the batch, the units the refresh dropped included,
// under the command's one name.
std::string report_lines(batch_context& ctx, const batch_command& cmd, const run_report& refresh)
{
    std::string lines = batch_report(ctx);
    batch_file file = ctx.file();
    if (file.command.empty())
        file.command = cmd.title;
    for (const auto& f : refresh.failed_units()) {
        batch_outcome o;
        o.result = job_failed;
        o.cancelled = f.cancelled;
        o.duplicate = f.duplicate;
        o.reason = f.error;
        o.address = f.address;
        o.serial = f.serial;
        o.label = f.label;
        o.started = f.started;
        o.ended = f.ended;
        lines += batch_report_line(o, file) + "\n";
    }
    return lines;
}

// A selected unit the command neither ran on nor passed over with a
// reason still gets a row: a script that listed it must not take silence
// for success.
void add_units_left_out(batch_context& ctx, std::vector<result_row>& rows)
{
    std::set<const CHubDevice*> reported;
    for (const batch_outcome& o : ctx.outcomes())
        reported.insert(o.unit);
    for (const batch_outcome& o : ctx.skipped())
        reported.insert(o.unit);
    for (const auto& u : ctx.manager.group().units()) {
        bool selected = u->selected != 0;
        for (const auto& t : u->taps)
            selected = selected || t->selected != 0;
        if (selected && !reported.count(u.get())) {
            result_row r;
            r.address = u->address_string();
            r.label = u->label;
            r.serial = u->serial;
            r.status = "failed";
            r.reason = "not offered by the unit";
            r.undone = r.retry = true;
            rows.push_back(std::move(r));
        }
    }
}

void text_or_null(json_writer& w, const char* key, const std::string& text)
{
    w.key(key);
    if (text.empty())
        w.null();
    else
        w.value(text);
}

void write_differences(json_writer& w, const std::vector<config_difference>& differences)
{
    w.key("differences");
    w.begin_array();
    for (const config_difference& d : differences) {
        w.begin_object();
        text_or_null(w, "category", d.category);
        w.key("path"), w.value(d.path);
        text_or_null(w, "unit", d.unit);
        text_or_null(w, "file", d.file);
        w.end_object();
    }
    w.end_array();
}

void print_json(const batch_command& cmd, const std::vector<result_row>& rows, bool cancelled, bool dry_run)
{
    json_writer w;
    w.begin_object();
    w.key("schema"), w.value(batch_schema);
    w.key("command"), w.value(cmd.name);
    w.key("dry_run"), w.value(dry_run);
    w.key("cancelled"), w.value(cancelled);
    w.key("changed"), w.value(std::any_of(rows.begin(), rows.end(), [](const result_row& r) { return r.changed; }));
    if (comparing(cmd))
        w.key("compliant"), w.value(std::all_of(rows.begin(), rows.end(), [](const result_row& r) {
            return compare_status(r) == "compliant";
        }));
    w.key("units");
    w.begin_array();
    for (const result_row& r : rows) {
        w.begin_object();
        w.key("address"), w.value(r.address);
        w.key("label"), w.value(r.label);
        text_or_null(w, "serial", r.serial);
        text_or_null(w, "product_class", r.product_class);
        w.key("status"), w.value(comparing(cmd) ? compare_status(r) : r.status);
        w.key("changed"), w.value(r.changed);
        if (dry_run) {
            w.key("would_change"), w.value(r.would_change);
            text_or_null(w, "plan", r.plan);
        }
        if (r.compared)
            write_differences(w, r.differences);
        w.key("result"), w.value(r.status);
        w.key("error");
        if (r.status == "ok")
            w.null();
        else
            w.value(r.reason);
        w.key("reason");
        if (r.reason.empty())
            w.null();
        else
            w.value(r.reason);
        if (!r.url.empty())
            w.key("url"), w.value(r.url);
        text_or_null(w, "file", r.file);
        text_or_null(w, "version_before", r.version_before);
        text_or_null(w, "version_after", r.version_after);
        w.end_object();
    }
    w.end_array();
    w.key("failed");
    w.begin_array();
    for (const result_row& r : rows)
        if (r.undone)
            w.value(r.address);
    w.end_array();
    w.end_object();
    std::printf("%s\n", w.text().c_str());
}

// A value as config-diff prints it: its JSON text, or "(none)".
std::string value_text(const std::string& json) { return json.empty() ? "(none)" : json; }

void print_text(const batch_command& cmd, const std::vector<result_row>& rows)
{
    for (const result_row& r : rows) {
        std::string line = (comparing(cmd) ? compare_status(r) : r.status) + ": " + r.address;
        if (!r.label.empty() && r.label != r.address)
            line += " (" + r.label + ")";
        if (!r.reason.empty())
            line += ": " + r.reason;
        else if (!r.url.empty())
            line += ": " + r.url;
        if (!r.file.empty())
            line += (r.reason.empty() ? ": saved to " : ", saved to ") + r.file;
        std::printf("%s%s\n", line.c_str(), versions_text(r).c_str());
        if (comparing(cmd))
            for (const config_difference& d : r.differences)
                std::printf("    %s: unit %s, file %s\n", d.path.c_str(), value_text(d.unit).c_str(),
                            value_text(d.file).c_str());
    }
    const std::string retry = retry_list_text(rows);
    if (!retry.empty() && !cmd.each)
        std::printf("# failed units (run again on them with --list and a file of these lines):\n%s", retry.c_str());
}

} // namespace

int run_batch(const options& opts, batch_context& ctx, terminal_dialogs& ui, const run_report& refresh,
              const std::atomic<bool>& interrupted)
{
    const batch_command& cmd = *opts.batch;
    std::vector<result_row> rows;
    bool nothing_sent = false;
    unit_group& group = ctx.manager.group();

    int cls = 0;
    if (opts.class_name && !interrupted) {
        const class_choice choice = choose_class(group, *opts.class_name, cmd.taps, cmd.name);
        if (!choice.error.empty()) {
            std::fprintf(stderr, "talvorctl: %s: %s\n", cmd.name, choice.error.c_str());
            return 2;
        }
        cls = choice.product_class;
        // Said before anything is sent: a kind name stands for its whole class.
        if (!choice.note.empty())
            std::fprintf(stderr, "talvorctl: %s\n", choice.note.c_str());
    }
    if (cmd.each) {
        if (!interrupted)
            rows = run_each(cmd, ctx, opts, cls);
    } else {
        std::string error;
        const int chosen = interrupted ? 0 : select_class(group, cls, error);
        const bool selected = chosen > 0;
        if (!selected && !interrupted && !group.units().empty())
            std::fprintf(stderr, "talvorctl: %s: %s\n", cmd.name, error.c_str());
        // Which class was meant is the user's to say: nothing is sent.
        if (chosen < 0)
            return 2;
        ctx.parallel = opts.parallel;
        ctx.dry_run = opts.dry_run;
        ctx.target_version = target_version_text(opts.value("--target-version").value_or(""));
        ctx.only_if_different = opts.has("--only-if-different");
        ctx.password_check_first = true; // a second run leaves units on the new password alone
        if (selected)
            cmd.run(ctx, opts);
        if (selected) {
            for (const batch_outcome& o : ctx.outcomes())
                rows.push_back(row_of(o));
            for (const batch_outcome& o : ctx.skipped())
                rows.push_back(row_of(o));
            // Declined questions leave every unit without an outcome:
            // nothing was sent, and nothing is to be listed.
            if (!ctx.outcomes().empty())
                add_units_left_out(ctx, rows);
        }
        nothing_sent = ctx.outcomes().empty();
        // --retries: the units that failed for a passing reason run the
        // command again, alone, with the answers given the first time.
        ui.repeat_answers();
        for (std::size_t round = 0; selected && round < opts.retries && !interrupted; ++round) {
            const std::set<CHubDevice*> again = passing_failures(ctx);
            if (again.empty())
                break;
            std::fprintf(stderr, "talvorctl: %s: trying %zu unit%s again (retry %zu of %zu)\n", cmd.name,
                         again.size(), again.size() == 1 ? "" : "s", round + 1, opts.retries);
            keep_selected(group, again);
            cmd.run(ctx, opts);
            for (const batch_outcome& o : ctx.outcomes())
                for (result_row& r : rows)
                    if (o.unit && r.address == o.unit->address_string())
                        r = row_of(o);
        }
    }
    // Units of another class than --class names were not asked for.
    if (cls)
        for (const auto& u : group.units()) {
            bool member = false;
            group.for_each_class_member(cls, [&](CHubDevice& unit, CTapDevice*) { member = member || &unit == u.get(); });
            if (!member) {
                result_row r;
                r.address = u->address_string();
                r.label = u->label;
                r.serial = u->serial;
                r.status = "skipped";
                r.reason = "not of the class \"" + std::string(product_class_name(cls)) + "\"";
                rows.push_back(std::move(r));
            }
        }
    for (const auto& f : refresh.failed_units()) {
        result_row r;
        r.address = f.address;
        r.label = f.label;
        r.serial = f.serial;
        r.status = f.duplicate ? "duplicate" : f.cancelled ? "cancelled" : "failed";
        r.reason = f.error;
        r.undone = true;
        r.retry = !f.duplicate; // the same unit is in the batch under its first address
        rows.push_back(std::move(r));
    }
    const bool any_undone = std::any_of(rows.begin(), rows.end(), [](const result_row& r) { return r.undone; });

    if (opts.json)
        print_json(cmd, rows, interrupted.load(), opts.dry_run);
    else
        print_text(cmd, rows);
    std::fflush(stdout);
    if (nothing_sent && !cmd.each)
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
    const bool drift = comparing(cmd) && std::any_of(rows.begin(), rows.end(), [](const result_row& r) {
                           return compare_status(r) == "drift";
                       });
    return any_undone || drift || nothing_sent || rows.empty() || files_failed || ui.errors_shown() ? 1 : 0;
}

} // namespace talvor::cli
