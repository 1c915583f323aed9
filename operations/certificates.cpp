// The four certificate commands: upload of the user certificate and of its
// key, regeneration of the fallback certificate, erasure of both.
#include <memory>

#include "inventory/unit_group.h"
#include "operations/commands.h"
#include "operations/simple_job.h"
#include "operations/file_checks.h"
#include "transport/path_text.h"

namespace talvor {

namespace {

struct cert_operation {
    std::string title;
    std::string confirmation;
    std::string progress;
    int kind;
    std::string what; // in failure reasons
    std::string scope = {};   // the confirmation's line, before the units, for the commands without a file
    std::string warning = {}; // what the confirmation's line adds after the units
    std::string plan = {};    // a dry run's words for it, before the file's name
};

const cert_operation certificate_upload{"Upload User Certificate", "Upload user certificate to selected device(s)",
                                        "Uploading user certificate to selected device(s)", job_kind_cert_upload,
                                        "certificate upload", {}, {}, "would upload the user certificate "};
const cert_operation key_upload{"Upload User Certificate Key", "Upload user certificate key to selected device(s)",
                                "Upload user certificate key to selected device(s)", job_kind_key_upload,
                                "key upload", {}, {}, "would upload the user certificate key "};
const cert_operation regeneration{"Regenerate Fallback Certificate",
                                  "Regenerate fallback certificates on selected device(s)",
                                  "Regenerate fallback certificates on selected device(s)", job_kind_cert_regenerate,
                                  "fallback certificate regeneration", "Makes new fallback certificates on", {},
                                  "would regenerate the fallback certificate"};
const cert_operation erasure{"Erase User Certificate & Key", "Erase user certificates and keys on selected device(s)",
                             "Erase user certificates and keys on selected device(s)", job_kind_cert_erase,
                             "certificate erase", "Deletes the user certificate and key of",
                             " This cannot be undone.", "would erase the user certificate and key"};

using hub_call = std::function<int(zt_hub&, CHubDevice&, const byte_vector&)>;

// Steps 4 to 7 once the command has its file (empty for the two without).
// `what`: the file's name, or what the command does, for the confirmation.
int confirm_and_run(batch_context& ctx, const cert_operation& op, std::shared_ptr<const byte_vector> file,
                    hub_call call, const std::string& what, const std::string& file_name = {})
{
    int units = 0;
    ctx.manager.group().for_each_selected_with(cap_certificates, [&](CHubDevice&) { ++units; });
    const std::string scope = what + " " + units_text(units) + "." + op.warning;
    if (!ctx.ConfirmParanoid(op.confirmation, op.title, scope, nullptr))
        return 0;
    ctx.clear_cancels();
    ctx.planner = [plan = op.plan + file_name](CHubDevice&, zt_hub&, job_findings& f) {
        f.would_change = true;
        f.plan = plan;
        return std::string();
    };
    const connection_env* env = &ctx.env();
    ctx.manager.group().for_each_selected_with(cap_certificates, [&](CHubDevice& unit) {
        CHubDevice* u = &unit;
        ctx.dispatch(op.kind, unit, [u, env, file, call, what = op.what] {
            run_simple_job(*u, *env, what, [&](zt_hub& hub) { return call(hub, *u, *file); },
                           logout_rule::after_success);
        }, dispatch_form::unguarded);
    });
    return ctx.ShowOperationProgress(op.progress, op.title);
}

int upload(batch_context& ctx, const cert_operation& op, const std::filesystem::path* path,
           const std::string& file_kind, input_kind kind, const std::string& filter, hub_call call)
{
    if (!ctx.begin_command(op.title) || !ctx.check_capability(cap_certificates, op.title))
        return 0;
    const std::string t =
        "\"" + std::string(product_class_name(ctx.manager.group().selected_class)) + "\" " + file_kind;
    std::filesystem::path chosen;
    if (path) {
        chosen = *path;
    } else {
        file_request request;
        request.title = "Select " + t;
        request.filter = filter;
        auto answer = ctx.ui.choose_file(request);
        if (!answer)
            return 0;
        chosen = *answer;
    }
    auto bytes = std::make_shared<byte_vector>();
    if (!load_input_file(ctx.ui, op.title, t, chosen, "Failed to load file !", *bytes))
        return 0;
    // Sent as it is, but only once it holds what the unit expects.
    if (const std::string why = input_content_problem(*bytes, kind); !why.empty()) {
        report_input_refused(ctx.ui, op.title, t, "", chosen, why);
        return 0;
    }
    ctx.note_file(chosen, *bytes);
    const std::string name = path_text(chosen.filename());
    return confirm_and_run(ctx, op, std::move(bytes), std::move(call), "Sends " + name + " to", name);
}

int without_file(batch_context& ctx, const cert_operation& op, hub_call call)
{
    if (!ctx.begin_command(op.title) || !ctx.check_capability(cap_certificates, op.title))
        return 0;
    return confirm_and_run(ctx, op, std::make_shared<const byte_vector>(), std::move(call), op.scope);
}

} // namespace

int OnUploadCertificate(batch_context& ctx, const std::filesystem::path* path)
{
    return upload(ctx, certificate_upload, path, "User Certificate File", input_kind::certificate,
                  "Certificate Files (*.pem; *.der)|*.pem;*.der|All Files (*.*)|*.*||",
                  [](zt_hub& hub, CHubDevice& unit, const byte_vector& file) {
                      return hub.cert_upload(file, unit.job_progress);
                  });
}

int OnUploadCertificateKey(batch_context& ctx)
{
    return upload(ctx, key_upload, nullptr, "User Certificate Key File", input_kind::private_key,
                  "Certificate Key Files (*.pem; *.der)|*.pem;*.der|All Files (*.*)|*.*||",
                  [](zt_hub& hub, CHubDevice& unit, const byte_vector& file) {
                      return hub.priv_upload(file, unit.job_progress);
                  });
}

int OnRegenerateFallbackCertificate(batch_context& ctx)
{
    return without_file(ctx, regeneration, [](zt_hub& hub, CHubDevice&, const byte_vector&) {
        return hub.cert_default_regen();
    });
}

int OnEraseCertificate(batch_context& ctx)
{
    return without_file(ctx, erasure, [](zt_hub& hub, CHubDevice&, const byte_vector&) { return hub.cert_clear(); });
}

} // namespace talvor
