// Customization upload and removal.
#include <memory>

#include "inventory/unit_group.h"
#include "operations/commands.h"
#include "operations/customisation_file.h"
#include "operations/simple_job.h"
#include "operations/file_checks.h"
#include "transport/path_text.h"

namespace talvor {

namespace {

const std::string title = "Upload Customization";

} // namespace

int OnUploadCustomization(batch_context& ctx, const std::filesystem::path* path, int upload)
{
    if (!ctx.begin_command(title) || !ctx.check_capability(cap_customisation, title))
        return 0;
    unit_group& group = ctx.manager.group();
    const std::string file_kind = "\"" + std::string(product_class_name(group.selected_class)) + "\" Customization File";

    auto bytes = std::make_shared<byte_vector>();
    std::filesystem::path sent;
    if (upload) {
        std::filesystem::path chosen;
        if (path) {
            chosen = *path;
        } else {
            file_request request;
            request.title = "Select " + file_kind;
            request.filter = "Customization Files (*.cst)|*.cst|All Files (*.*)|*.*||";
            auto answer = ctx.ui.choose_file(request);
            if (!answer)
                return 0;
            chosen = *answer;
        }
        if (!load_input_file(ctx.ui, title, file_kind, chosen, "Failed to load customization file !", *bytes))
            return 0;
        ctx.note_file(chosen, *bytes);
        sent = chosen;
        if (!customisation_file_valid(*bytes)) {
            report_input_refused(ctx.ui, title, file_kind, "Customization file invalid !", chosen,
                                 input_content_problem(*bytes, input_kind::customisation));
            return 0;
        }
    } else {
        *bytes = customisation_removal_file();
    }

    int units = 0;
    group.for_each_selected_with(cap_customisation, [&](CHubDevice&) { ++units; });
    const std::string scope = (upload ? "Sends " + path_text(sent.filename()) + " to " : "Removes the customization of ") +
                              units_text(units) + ".";
    if (!ctx.ConfirmParanoid("Upload customization to selected devices", title, scope, nullptr))
        return 0;
    ctx.clear_cancels();
    ctx.planner = [plan = upload ? "would upload " + path_text(sent.filename()) : std::string("would remove the customization")](
                      CHubDevice&, zt_hub&, job_findings& f) {
        f.would_change = true;
        f.plan = plan;
        return std::string();
    };
    const connection_env* env = &ctx.env();
    std::shared_ptr<const byte_vector> file = std::move(bytes);
    group.for_each_selected_with(cap_customisation, [&](CHubDevice& unit) {
        CHubDevice* u = &unit;
        ctx.dispatch(job_kind_customisation, unit, [u, env, file] {
            run_simple_job(*u, *env, "customization upload",
                           [&](zt_hub& hub) { return hub.upload_customisation(*file, u->job_progress); },
                           logout_rule::after_success);
        }, dispatch_form::unguarded);
    });
    return ctx.ShowOperationProgress("Uploading customization to selected device(s)", title);
}

} // namespace talvor
