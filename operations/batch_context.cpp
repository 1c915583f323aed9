#include <chrono>

#include "operations/batch.h"

namespace talvor {

namespace {

// The platform's millisecond tick: time since an arbitrary start, 32 bits.
std::uint32_t millisecond_tick()
{
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

batch_context::batch_context(unit_manager& m, dialogs& dialogs_ui)
    : manager(m), ui(dialogs_ui), confirm_rng(millisecond_tick())
{
    manager.other_job_done = [this](CHubDevice& unit) { on_job_done(unit); };
}

batch_context::~batch_context() { manager.other_job_done = nullptr; }

bool batch_context::begin_command()
{
    if (!manager.busy().empty())
        return false;
    if (consistency_check)
        consistency_check();
    return true;
}

bool batch_context::check_capability(std::uint32_t bit, const std::string& title)
{
    const capability_masks masks = manager.group().selection_capabilities();
    if ((masks.any & bit) == 0)
        return false;
    if ((masks.all & bit) == 0 && AskProceedPartial(title) != IDYES)
        return false;
    return true;
}

int batch_context::AskProceedPartial(const std::string& title)
{
    task_dialog_request r;
    r.title = title;
    r.main_instruction = "Not all selected devices support this operation";
    r.content = "Do you want to proceed with those that do ?";
    r.buttons = button_yes | button_no;
    r.default_button = IDNO;
    r.main_icon = dialog_icon::warning;
    return ui.task_dialog(r).button;
}

void batch_context::clear_cancels()
{
    manager.group().for_each_unit([](CHubDevice& unit) { lift_cancel(unit); });
}

bool batch_context::dispatch(int kind, CHubDevice& unit, std::function<void()> job, dispatch_form form,
                             const std::function<bool(const CHubDevice&)>& extra)
{
    // Nothing outstanding: this is the first unit of a new batch.
    if (manager.busy().empty()) {
        outcomes_.clear();
        any_failed_ = false;
    }
    if (!dispatch_job(manager.busy(), kind, unit, std::move(job), form, extra))
        return false;
    outcomes_.push_back({&unit, job_running, {}});
    return true;
}

void batch_context::on_job_done(CHubDevice& unit)
{
    const int result = unit.job_result.load();
    if (result != job_succeeded)
        any_failed_ = true;
    for (auto& o : outcomes_)
        if (o.unit == &unit) {
            o.result = result == job_succeeded ? job_succeeded : job_failed;
            o.reason = result == job_succeeded ? std::string() : unit.job_reason;
        }
}

void finish_job(CHubDevice& unit, const connection_env& env, bool ok, std::string reason)
{
    unit.job_reason = ok ? std::string() : std::move(reason);
    unit.job_result = ok ? job_succeeded : job_failed;
    unit.job_done = 1;
    env.bridge->send({WM_UNIT_JOB_DONE, 0, reinterpret_cast<std::intptr_t>(&unit)});
}

} // namespace talvor
