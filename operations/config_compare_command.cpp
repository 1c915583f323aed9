// Comparing the configuration of the selected units with a file or with
// another unit's: drift reports against a site's golden configuration.
#include <memory>
#include <string>

#include "inventory/ensure_login.h"
#include "inventory/unit_group.h"
#include "operations/commands.h"
#include "operations/config_file.h"
#include "operations/config_upload_job.h"
#include "operations/file_checks.h"
#include "operations/simple_job.h"

namespace talvor {

namespace {

constexpr const char* compare_title = "Compare Configuration";

void compare_job(CHubDevice& unit, const connection_env& env, const byte_vector& reference, job_findings& f)
{
    if (ensure_login(unit, env) != 200)
        return finish_job(unit, env, false, login_failure_reason(unit));
    std::string why = compare_unit_config(*unit.hub, reference, f);
    unit.hub->logout();
    if (why.empty() && !f.compared)
        why = "its configuration is not a JSON object";
    if (!why.empty())
        return finish_job(unit, env, false, why);
    finish_job(unit, env, true, f.differences.empty() ? "compliant" : differences_text(f.differences.size()));
}

void read_job(CHubDevice& unit, const connection_env& env, std::shared_ptr<byte_vector> into)
{
    if (ensure_login(unit, env) != 200)
        return finish_job(unit, env, false, login_failure_reason(unit));
    const int r = unit.hub->get_config_file_raw(*into, reply_limit);
    unit.hub->logout();
    if (r != 200)
        return finish_job(unit, env, false, status_reason("download failed", r));
    finish_job(unit, env, true);
}

} // namespace

int OnCompareConfiguration(batch_context& ctx, const std::filesystem::path& file)
{
    const std::string file_text = "Configuration File";
    auto bytes = std::make_shared<byte_vector>();
    if (!load_input_file(ctx.ui, compare_title, file_text, file, "Failed to load file !", *bytes))
        return 0;
    if (!read_config_file_info(*bytes)) {
        report_input_refused(ctx.ui, compare_title, file_text, "Configuration file version is invalid !", file,
                             input_content_problem(*bytes, input_kind::configuration));
        return 0;
    }
    const int result = OnCompareConfiguration(ctx, std::shared_ptr<const byte_vector>(bytes));
    ctx.note_file(file, *bytes);
    return result;
}

int OnCompareConfiguration(batch_context& ctx, std::shared_ptr<const byte_vector> reference)
{
    if (!ctx.begin_command(compare_title) || !ctx.check_capability(cap_config, compare_title))
        return 0;
    ctx.clear_cancels();
    const connection_env* env = &ctx.env();
    ctx.manager.group().for_each_selected_with(cap_config, [&](CHubDevice& unit) {
        CHubDevice* u = &unit;
        ctx.dispatch_finding(
            job_kind_config_compare, unit, [u, env, reference](job_findings& f) { compare_job(*u, *env, *reference, f); },
            dispatch_form::guarded,
            [](const CHubDevice& d) { return d.selected != 0 && (d.capabilities & cap_config) != 0; });
    });
    return ctx.ShowOperationProgress("Comparing the configuration of selected device(s)", compare_title);
}

std::optional<byte_vector> read_configuration(batch_context& ctx, CHubDevice& unit, std::string& reason)
{
    reason.clear();
    if (!ctx.begin_command(compare_title))
        return std::nullopt;
    if ((unit.capabilities & cap_config) == 0) {
        bool retry = false;
        reason = capability_missing_reason(unit, cap_config, retry);
        return std::nullopt;
    }
    ctx.clear_cancels();
    auto bytes = std::make_shared<byte_vector>();
    CHubDevice* u = &unit;
    const connection_env* env = &ctx.env();
    // Reads only, so a dry run reads it too.
    ctx.dispatch(job_kind_config_compare, unit, [u, env, bytes] { read_job(*u, *env, bytes); },
                 dispatch_form::unguarded);
    ctx.ShowOperationProgress("Reading the configuration of the unit to compare with", compare_title);
    const batch_outcome* o = ctx.outcome_of(unit);
    if (!o || o->result != job_succeeded) {
        reason = o ? o->reason : "not read";
        return std::nullopt;
    }
    return std::move(*bytes);
}

} // namespace talvor
