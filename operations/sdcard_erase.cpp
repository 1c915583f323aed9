// Erasing the SD card of the selected units.
#include "inventory/unit_group.h"
#include "operations/commands.h"
#include "operations/simple_job.h"

namespace talvor {

int OnEraseSdCard(batch_context& ctx)
{
    const std::string title = "Erase SD-Card";
    if (!ctx.begin_command(title) || !ctx.check_capability(cap_sdcard, title))
        return 0;
    int units = 0;
    ctx.manager.group().for_each_selected_with(cap_sdcard, [&](CHubDevice&) { ++units; });
    const std::string scope = "Erases the SD cards of " + units_text(units) + ". This cannot be undone.";
    if (!ctx.ConfirmParanoid("Erase SD-Card on selected devices", title, scope, nullptr))
        return 0;
    ctx.clear_cancels();
    ctx.planner = [](CHubDevice& u, zt_hub&, job_findings& f) {
        f.would_change = true;
        f.plan = "would erase the SD card (" + std::to_string(u.sd_card_gb) + " GB)";
        return std::string();
    };
    const connection_env* env = &ctx.env();
    ctx.manager.group().for_each_selected_with(cap_sdcard, [&](CHubDevice& unit) {
        CHubDevice* u = &unit;
        ctx.dispatch(job_kind_sdcard_erase, unit, [u, env] {
            run_simple_job(*u, *env, "SD-card erase", [](zt_hub& hub) { return hub.sdcard_clear(0); },
                           logout_rule::never);
        }, dispatch_form::guarded, [](const CHubDevice& d) { return d.selected != 0 && (d.capabilities & cap_sdcard); });
    });
    return ctx.ShowOperationProgress("Erasing cards on selected device(s)", title);
}

} // namespace talvor
