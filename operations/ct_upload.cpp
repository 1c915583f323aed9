// Sending a CT type table (.csv) to the selected units as a configuration
// with its own category.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "inventory/unit_group.h"
#include "operations/commands.h"
#include "operations/config_upload_job.h"
#include "operations/ct_table.h"
#include "operations/file_checks.h"
#include "transport/path_text.h"

namespace talvor {

namespace {

constexpr const char* ct_title = "Upload CT Type Table";
constexpr unsigned ct_category_mask = 0x80000000u;
// Units whose configuration format is this old do not know CT tables.
constexpr int last_version_without_ct = 6;

} // namespace

int OnUploadCtTypes(batch_context& ctx, const std::filesystem::path* path)
{
    if (!ctx.begin_command(ct_title) || !ctx.check_capability(cap_config, ct_title))
        return 0;
    unit_group& group = ctx.manager.group();
    const std::string file_text = "\"" + std::string(product_class_name(group.selected_class)) + "\" CT Type File";
    std::filesystem::path file;
    if (path) {
        file = *path;
    } else {
        file_request request;
        request.title = "Select " + file_text;
        request.filter = "CT Type Files (*.csv)|*.csv|All Files (*.*)|*.*||";
        auto chosen = ctx.ui.choose_file(request);
        if (!chosen)
            return 0;
        file = *chosen;
    }
    byte_vector bytes;
    if (!load_input_file(ctx.ui, ct_title, file_text, file, "Failed to load file !", bytes))
        return 0;
    std::vector<ct_type_row> rows;
    ctx.note_file(file, bytes);
    if (int line = load_ct_table({reinterpret_cast<const char*>(bytes.data()), bytes.size()}, rows)) {
        ctx.ui.task_dialog(error_dialog(ct_title, ct_parse_failure_text(line), "CT type file is invalid !"));
        return 0;
    }
    // A table without rows would empty the units' own.
    if (rows.empty()) {
        report_input_refused(ctx.ui, ct_title, file_text, "CT type file is invalid !", file, "holds no CT types");
        return 0;
    }
    const std::string json = ct_types_json(rows);

    std::vector<CHubDevice*> too_old;
    group.for_each_selected_with(cap_config, [&](CHubDevice& u) {
        if (u.config_version <= last_version_without_ct)
            too_old.push_back(&u);
    });
    for (CHubDevice* u : too_old) {
        task_dialog_request r = error_dialog(u->label, "Unsupported operation", "CT Type Table upload not supported");
        r.buttons = button_ok | button_cancel;
        if (ctx.ui.task_dialog(r).button == IDCANCEL)
            break;
    }
    if (!too_old.empty())
        return 0;
    int units = 0;
    group.for_each_selected_with(cap_config, [&](CHubDevice&) { ++units; });
    const std::string scope = "Sends " + path_text(file.filename()) + " (" + std::to_string(rows.size()) + " CT type" +
                              (rows.size() == 1 ? "" : "s") + ") to " + units_text(units) + ".";
    if (!ctx.ConfirmParanoid("Upload CT types to selected devices", ct_title, scope, nullptr))
        return 0;

    ctx.clear_cancels();
    ctx.planner = [plan = "would upload " + std::to_string(rows.size()) + " CT type" + (rows.size() == 1 ? "" : "s")](
                      CHubDevice&, zt_hub&, job_findings& f) {
        f.would_change = true;
        f.plan = plan;
        return std::string();
    };
    const auto shared = std::make_shared<const byte_vector>(json.begin(), json.end());
    group.for_each_selected_with(cap_config, [&](CHubDevice& u) {
        ctx.dispatch(
            job_kind_config_upload, u, [&ctx, &u, shared] { upload_config_job(ctx, u, shared, ct_category_mask); },
            dispatch_form::unguarded);
    });
    return ctx.ShowOperationProgress("Uploading CT types to selected device(s)", ct_title);
}

} // namespace talvor
