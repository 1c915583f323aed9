// Restarting the selected units (with or without their TAPs), or the
// selected TAPs through their units.
#include "inventory/ensure_login.h"
#include "inventory/unit_group.h"
#include "operations/commands.h"
#include "operations/config_upload_job.h"
#include "operations/restart_target.h"
#include "operations/simple_job.h"

namespace talvor {

namespace {

constexpr int restart_wait_ms = 7000;
constexpr const char* restart_title = "Restart Devices";

bool hub_class(int product_class)
{
    return product_class == class_orvane_system || product_class == class_talvor_system;
}

void restart_job(CHubDevice& unit, const connection_env& env, int selected_class, unsigned code)
{
    if (ensure_login(unit, env) != 200)
        return finish_job(unit, env, false, login_failure_reason(unit));
    zt_hub& hub = *unit.hub;
    if (hub_class(selected_class)) {
        if (selected_class != unit.product_class || (code != restart_unit && code != restart_unit_and_taps))
            return finish_job(unit, env, false, "not a unit of the selected class");
        const int status = hub.reboot(code);
        if (status != 200) {
            hub.logout();
            return finish_job(unit, env, false, operation_failure_reason("restart", status));
        }
        // The unit goes down now: no logout. It took the restart, so a
        // cancel during the wait only ends the wait.
        if (!timed_wait(hub, restart_wait_ms, unit.job_progress, unit.job_progress.low, unit.job_progress.high))
            return finish_job(unit, env, true, "restarting (the wait for it was cancelled)");
        return finish_job(unit, env, true);
    }

    bool any = false;
    int last_status = -1;
    for (const auto& tap : unit.taps) {
        if (!tap->selected)
            continue;
        const std::uint32_t target = tap_restart_target(unit.net_version, *tap);
        last_status = hub.reboot(tap_restart_argument(target, code));
        any = any || last_status == 200;
    }
    hub.logout();
    finish_job(unit, env, any, any ? std::string() : operation_failure_reason("TAP restart", last_status));
}

} // namespace

int OnRestart(batch_context& ctx)
{
    if (!ctx.begin_command(restart_title))
        return 0;
    unit_group& group = ctx.manager.group();
    const int selected_class = group.selected_class;
    if (selected_class == class_unknown)
        return 0;

    unsigned code = restart_taps;
    std::string footer;
    if (hub_class(selected_class)) {
        task_dialog_request question;
        question.title = "Restart selected devices";
        question.main_instruction = "Restart TAPs";
        question.content = "Do you want to restart the connected TAPs at the same time ?";
        question.buttons = button_yes | button_no | button_cancel;
        question.default_button = IDNO;
        const int answer = ctx.ui.task_dialog(question).button;
        if (answer == IDYES)
            code = restart_unit_and_taps;
        else if (answer == IDNO)
            code = restart_unit;
        else
            return 0;
    } else {
        footer = "There is no ability to restart individual TAPs. All the TAPs connected to the same Brevik or "
                 "Orvane as the selected TAPs will be restarted";
    }
    int units = 0, taps = 0;
    if (hub_class(selected_class)) {
        units = group.count_selected();
    } else {
        group.for_each_with_selected_taps([&](CHubDevice& u) {
            ++units;
            for (const auto& t : u.taps)
                taps += t->selected ? 1 : 0;
        });
    }
    const std::string scope =
        hub_class(selected_class)
            ? "Restarts " + units_text(units) + (code == restart_unit_and_taps ? " with their TAPs." : ".")
            : "Restarts every TAP of " + units_text(units) + " (" + std::to_string(taps) + " selected).";
    if (!ctx.ConfirmParanoid("Restart selected devices", restart_title, scope, footer.empty() ? nullptr : &footer))
        return 0;
    ctx.clear_cancels();
    ctx.planner = [selected_class, code](CHubDevice& u, zt_hub&, job_findings& f) -> std::string {
        f.would_change = true;
        if (hub_class(selected_class)) {
            if (selected_class != u.product_class)
                return "not a unit of the selected class";
            f.plan = code == restart_unit_and_taps ? "would restart the unit with its TAPs" : "would restart the unit";
            return {};
        }
        int taps = 0;
        for (const auto& t : u.taps)
            taps += t->selected ? 1 : 0;
        f.plan = "would restart the TAPs of the unit (" + std::to_string(taps) + " selected)";
        return {};
    };

    const connection_env* env = &ctx.env();
    auto dispatch = [&](CHubDevice& unit) {
        CHubDevice* u = &unit;
        ctx.dispatch(job_kind_restart, unit, [u, env, selected_class, code] {
            restart_job(*u, *env, selected_class, code);
        }, dispatch_form::guarded);
    };
    if (hub_class(selected_class))
        group.for_each_selected(dispatch);
    else
        group.for_each_with_selected_taps(dispatch);
    return ctx.ShowOperationProgress("Restarting selected device(s)", restart_title);
}

} // namespace talvor
