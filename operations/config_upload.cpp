// Sending one .cfg file to the selected units, after the format version,
// category, IP filtering and SD-card checks.
#include <cctype>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/unit_group.h"
#include "operations/commands.h"
#include "operations/config_file.h"
#include "operations/config_upload_job.h"
#include "operations/file_checks.h"
#include "transport/path_text.h"

namespace talvor {

namespace fs = std::filesystem;

namespace {

constexpr const char* upload_title = "Upload Configuration";

bool same_name(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The units the upload may still reach. Units without the capability never
// take part, whatever the later steps decide.
template <class F>
void for_each_candidate(unit_group& group, F&& fn)
{
    group.for_each_selected_with(cap_config, [&](CHubDevice& u) {
        if (!u.excluded)
            fn(u);
    });
}

bool any_candidate(unit_group& group)
{
    bool any = false;
    for_each_candidate(group, [&](CHubDevice&) { any = true; });
    return any;
}

// Excludes the units whose configuration format differs from the file's
// and the user does not want to upload to. True when any unit is left.
bool version_check(batch_context& ctx, int file_version)
{
    bool reject_newer = false;
    int older_answer = 0; // 0 ask, 1 exclude, 2 keep
    unit_group& group = ctx.manager.group();
    group.for_each_selected_with(cap_config, [&](CHubDevice& u) {
        u.excluded = 0;
        const int unit_version = u.config_version;
        const std::string numbers = std::to_string(file_version) + (unit_version < file_version ? " > " : " < ") +
                                    std::to_string(unit_version) + ")\r\n";
        if (unit_version < file_version) {
            u.excluded = 1;
            ctx.skip(u, "the file's configuration format is newer than the unit's (" + std::to_string(file_version) +
                            " > " + std::to_string(unit_version) + ")",
                     false);
            if (reject_newer)
                return;
            task_dialog_request r = error_dialog(
                u.label, "This upload has been rejected",
                "Configuration file has newer format than supported by this unit (" + numbers);
            r.verification_text = "Apply to all newer configurations";
            if (ctx.ui.task_dialog(r).verification_checked)
                reject_newer = true;
        } else if (unit_version > file_version) {
            const std::string older = "left out: the file's configuration format is older than the unit's (" +
                                      std::to_string(file_version) + " < " + std::to_string(unit_version) + ")";
            if (older_answer != 0) {
                u.excluded = older_answer == 1;
                if (u.excluded)
                    ctx.skip(u, older, false);
                return;
            }
            task_dialog_request r;
            r.title = u.label;
            r.main_instruction = "Do you wish to continue uploading the configuration?";
            r.content = "Configuration file has older format than expected by this unit (" + numbers + "\n";
            r.buttons = button_yes | button_no;
            r.main_icon = dialog_icon::warning;
            r.verification_text = "Apply to all older configurations";
            const task_dialog_answer a = ctx.ui.task_dialog(r);
            u.excluded = a.button == IDNO;
            if (u.excluded)
                ctx.skip(u, older, false);
            if (a.verification_checked)
                older_answer = a.button == IDNO ? 1 : 2;
        }
    });
    return any_candidate(group);
}

// Units without an SD card cannot take the log settings.
void sd_card_check(batch_context& ctx)
{
    bool apply_to_all = false;
    for_each_candidate(ctx.manager.group(), [&](CHubDevice& u) {
        if (u.sd_card_gb != 0)
            return;
        if (!apply_to_all) {
            task_dialog_request r =
                error_dialog(u.label, "Configuration category selection not valid", "This unit has no SD - Card");
            r.verification_text = "Apply to all without SD card";
            if (ctx.ui.task_dialog(r).verification_checked)
                apply_to_all = true;
        }
        u.excluded = 1;
        ctx.skip(u, "left out: the unit has no SD card for the log settings", false);
    });
}

bool ask_yes(batch_context& ctx, const std::string& instruction, const std::string& content)
{
    task_dialog_request r;
    r.title = upload_title;
    r.main_instruction = instruction;
    r.content = content;
    r.buttons = button_yes | button_no;
    r.default_button = IDNO;
    r.main_icon = dialog_icon::warning;
    return ctx.ui.task_dialog(r).button == IDYES;
}

// A dry run's plan for one unit: its configuration compared with the file,
// and the categories it would be sent with.
std::string upload_plan(CHubDevice& u, zt_hub& hub, const byte_vector& file, const std::vector<std::uint32_t>& chosen,
                        bool only_if_different, job_findings& f)
{
    if (std::string why = compare_unit_config(hub, file, f); !why.empty())
        return why;
    if (only_if_different && f.compared && f.differences.empty()) {
        f.unchanged = true;
        f.plan = "no key differs from the file";
        return {};
    }
    std::string names;
    for (const auto& [cat, bits] : u.config_categories)
        for (std::uint32_t id : chosen)
            if (cat == static_cast<int>(id))
                names += (names.empty() ? "" : ", ") + u.group->category_name(cat);
    const bool same = f.compared && f.differences.empty();
    f.would_change = true;
    f.plan = std::string(same ? "would upload " : "would change ") +
             (names.empty() ? "uncategorised settings only" : "categories " + names) + ": " +
             (f.compared ? differences_text(f.differences.size()) : "its configuration could not be compared");
    return {};
}

} // namespace

category_request category_rows(unit_group& group)
{
    category_request request;
    const std::size_t n = group.category_count();
    for (std::size_t id = 0; id < n; ++id) {
        int units = 0, offering = 0;
        for_each_candidate(group, [&](CHubDevice& u) {
            ++units;
            for (const auto& [cat, mask] : u.config_categories)
                if (cat == static_cast<int>(id)) {
                    ++offering;
                    break;
                }
        });
        if (offering)
            request.rows.push_back({offering == units, static_cast<std::uint32_t>(id),
                                    group.category_name(static_cast<int>(id))});
    }
    return request;
}

int OnUploadConfiguration(batch_context& ctx, const fs::path* path)
{
    if (!ctx.begin_command(upload_title) || !ctx.check_capability(cap_config, upload_title))
        return 0;
    unit_group& group = ctx.manager.group();
    const std::string file_text = "\"" + std::string(product_class_name(group.selected_class)) + "\" Configuration File";
    fs::path file;
    if (path) {
        file = *path;
    } else {
        file_request request;
        request.title = "Select " + file_text;
        request.filter = "Configuration Files (*.cfg)|*.cfg|All Files (*.*)|*.*||";
        auto chosen = ctx.ui.choose_file(request);
        if (!chosen)
            return 0;
        file = *chosen;
    }
    auto bytes = std::make_shared<byte_vector>();
    if (!load_input_file(ctx.ui, upload_title, file_text, file, "Failed to load file !", *bytes))
        return 0;
    ctx.note_file(file, *bytes);
    const auto info = read_config_file_info(*bytes);
    if (!info) {
        report_input_refused(ctx.ui, upload_title, file_text, "Configuration file version is invalid !", file,
                             input_content_problem(*bytes, input_kind::configuration));
        return 0;
    }
    if (!version_check(ctx, info->version))
        return 0;
    // A file saved from one unit carries that unit's name: said before the
    // categories are chosen, as other units may take it.
    if (!info->name.empty()) {
        int others = 0;
        for_each_candidate(group, [&](CHubDevice& u) { others += u.serial != info->name ? 1 : 0; });
        if (others != 0 &&
            !ask_yes(ctx, "Configuration file of unit \"" + info->name + "\"",
                     "This file was saved from the unit \"" + info->name + "\" and holds its name. " +
                         units_text(others) + " other than it" +
                         " may take that name with the settings uploaded.\n\nAre you sure you want to continue ?"))
            return 0;
    }

    const auto chosen = ctx.ui.choose_categories(category_rows(group));
    if (!chosen)
        return 0;
    if (chosen->empty() &&
        !ask_yes(ctx, file_text,
                 "No configuration categories have been selected so only uncategorised settings will be updated\n\n"
                 "Are you sure you want to continue ?"))
        return 0;
    for (std::uint32_t id : *chosen) {
        const std::string name = group.category_name(static_cast<int>(id));
        if (same_name(name, "ip filtering") && info->filtering_active) {
            if (!ask_yes(ctx, "Configuration activates IP address filtering",
                         "If the IP address of this machine is not in the configuration's whitelist then further "
                         "communication with the unit(s) will be blocked\n\nAre you sure you want to continue ?"))
                return 0;
        } else if (same_name(name, "logs") && info->has_log_conf) {
            if (info->sd_state & 0xF000) {
                ctx.ui.task_dialog(
                    error_dialog(upload_title, file_text, "Configuration file log entries are invalid!"));
                return 0;
            }
            sd_card_check(ctx);
        }
    }
    if (!any_candidate(group))
        return 0;
    int units = 0;
    for_each_candidate(group, [&](CHubDevice&) { ++units; });
    const std::string scope = "Sends " + path_text(file.filename()) + " to " + units_text(units) + ".";
    if (!ctx.ConfirmParanoid("Upload configuration to selected devices", upload_title, scope, nullptr))
        return 0;

    ctx.clear_cancels();
    const std::shared_ptr<const byte_vector> shared = bytes;
    const bool compare = ctx.only_if_different;
    ctx.planner = [shared, ids = *chosen, compare](CHubDevice& u, zt_hub& hub, job_findings& f) {
        return upload_plan(u, hub, *shared, ids, compare, f);
    };
    for_each_candidate(group, [&](CHubDevice& u) {
        unsigned mask = 0;
        for (const auto& [cat, bits] : u.config_categories)
            for (std::uint32_t id : *chosen)
                if (cat == static_cast<int>(id))
                    mask |= static_cast<unsigned>(bits);
        ctx.dispatch_finding(
            job_kind_config_upload, u,
            [&ctx, &u, shared, mask, compare](job_findings& f) {
                upload_config_job(ctx, u, shared, mask, compare ? &f : nullptr);
            },
            dispatch_form::unguarded);
    });
    return ctx.ShowOperationProgress("Uploading configuration to selected device(s)", upload_title);
}

} // namespace talvor
