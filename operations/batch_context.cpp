#include <chrono>
#include <mutex>
#include <utility>

#include "operations/batch.h"
#include "inventory/refresh_job.h"
#include "transport/sha256.h"

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

bool batch_context::begin_command(const std::string& title)
{
    if (!manager.busy().empty())
        return false;
    if (consistency_check)
        consistency_check();
    outcomes_.clear();
    skipped_.clear();
    file_ = {};
    file_.command = title;
    file_.started = std::chrono::system_clock::now();
    verify_chosen = false;
    planner = nullptr;
    return true;
}

void batch_context::skip(CHubDevice& unit, std::string reason, bool worth_retrying)
{
    batch_outcome o;
    o.unit = &unit;
    o.result = job_skipped;
    o.reason = std::move(reason);
    o.worth_retrying = worth_retrying;
    o.address = unit.address_string();
    o.serial = unit.serial;
    o.label = unit.label;
    o.started = o.ended = std::chrono::system_clock::now();
    skipped_.push_back(std::move(o));
}

const char* outcome_status(const batch_outcome& o)
{
    if (o.duplicate)
        return "duplicate";
    switch (o.result) {
    case job_succeeded:
        return o.found.unchanged ? "unchanged" : "ok";
    case job_skipped:
        // Passed over only because a read failed: a failure another run mends.
        return o.worth_retrying ? "failed" : "skipped";
    case job_running:
        return "cancelled"; // never reported
    default:
        return o.cancelled ? "cancelled" : "failed";
    }
}

std::string capability_missing_reason(const CHubDevice& unit, std::uint32_t bit, bool& worth_retrying)
{
    worth_retrying = (unit.capabilities_lost & bit) != 0;
    if (bit == cap_config)
        return worth_retrying ? "its configuration categories could not be read"
                              : "the unit takes no configuration files";
    if (bit == cap_certificates)
        return unit.hub && unit.hub->protocol_kind() == protocol_http ? "HTTP units have no certificate commands"
                                                                       : "the unit has no certificate commands";
    if (bit == cap_sdcard)
        return "the unit has no SD-card commands";
    if (bit == cap_customisation)
        return "the unit takes no customization";
    return "not offered by the unit";
}

void batch_context::note_file(const std::filesystem::path& path, const byte_vector& bytes, int image_class)
{
    file_.path = path;
    file_.sha256 = sha256_hex(bytes);
    file_.image_class = image_class;
}

bool batch_context::check_capability(std::uint32_t bit, const std::string& title)
{
    manager.group().for_each_selected([&](CHubDevice& unit) {
        if ((unit.capabilities & bit) != 0)
            return;
        bool retry = false;
        std::string why = capability_missing_reason(unit, bit, retry);
        skip(unit, std::move(why), retry);
    });
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

bool job_changes_unit(int kind)
{
    return kind != job_kind_config_download && kind != job_kind_config_compare && kind != job_kind_verify &&
           kind != job_kind_refresh;
}

bool batch_context::dispatch(int kind, CHubDevice& unit, std::function<void()> job, dispatch_form form,
                             const std::function<bool(const CHubDevice&)>& extra)
{
    return dispatch_finding(kind, unit, [job = std::move(job)](job_findings&) { job(); }, form, extra);
}

bool batch_context::dispatch_finding(int kind, CHubDevice& unit, std::function<void(job_findings&)> job,
                                     dispatch_form form, const std::function<bool(const CHubDevice&)>& extra)
{
    // The one place every command's jobs pass: in a dry run no job that
    // may change a unit gets through.
    if (dry_run && kind != job_kind_config_compare) {
        if (!planner)
            return false;
        job = [u = &unit, env = &env(), plan = planner](job_findings& f) { run_dry_job(*u, *env, plan, f); };
    }
    // Nothing outstanding: this is the first unit of a new batch.
    if (manager.busy().empty()) {
        outcomes_.clear();
        any_failed_ = false;
        at_work_ = 0;
        round_ = 0;
    }
    if (!admit_job(manager.busy(), kind, unit, form, extra))
        return false;
    batch_outcome o;
    o.unit = &unit;
    o.kind = kind;
    o.address = unit.address_string();
    o.serial = unit.serial;
    o.label = unit.label;
    auto found = std::make_shared<job_findings>();
    o.on_report = [found](batch_outcome& reported) { reported.found = std::move(*found); };
    outcomes_.push_back(std::move(o));
    waiting_.push_back({&unit, [job = std::move(job), found] { job(*found); }});
    start_waiting();
    return true;
}

void batch_context::settle_unchanged(CHubDevice& unit, int kind, std::string reason)
{
    batch_outcome o;
    o.unit = &unit;
    o.kind = kind;
    o.result = job_succeeded;
    o.address = unit.address_string();
    o.serial = unit.serial;
    o.label = unit.label;
    o.found.unchanged = true;
    if (dry_run)
        o.found.plan = reason;
    o.reason = std::move(reason);
    o.started = o.ended = std::chrono::system_clock::now();
    outcomes_.push_back(std::move(o));
}

bool batch_context::dispatch_follow_up(int kind, CHubDevice& unit, std::function<void()> job,
                                       std::function<void(batch_outcome&)> on_report)
{
    batch_outcome* o = outcome_of(unit);
    if (dry_run)
        return false; // a dry run did nothing to follow up
    // The first follow-up after the batch's end opens a window of its own.
    const bool first = manager.busy().empty();
    if (!o || !admit_job(manager.busy(), kind, unit, dispatch_form::unguarded))
        return false;
    if (first)
        ++round_;
    o->round = round_;
    o->result = job_running;
    o->kind = kind;
    o->on_report = std::move(on_report);
    ++at_work_;
    unit.worker->post(std::move(job));
    return true;
}

batch_outcome* batch_context::outcome_of(const CHubDevice& unit)
{
    for (auto& o : outcomes_)
        if (o.unit == &unit)
            return &o;
    return nullptr;
}

void batch_context::start_waiting()
{
    while (!waiting_.empty() && (parallel == 0 || at_work_ < parallel)) {
        waiting_job next = std::move(waiting_.front());
        waiting_.pop_front();
        if (batch_outcome* o = outcome_of(*next.unit))
            o->started = std::chrono::system_clock::now();
        ++at_work_;
        next.unit->worker->post(std::move(next.job));
    }
}

void batch_context::on_job_done(CHubDevice& unit)
{
    const int result = unit.job_result.load();
    if (result != job_succeeded)
        any_failed_ = true;
    if (batch_outcome* o = outcome_of(unit)) {
        o->result = result == job_succeeded ? job_succeeded : job_failed;
        o->reason = unit.job_reason;
        o->cancelled = result != job_succeeded && unit.job_cancelled;
        if (!unit.job_file.empty())
            o->file = unit.job_file;
        o->ended = std::chrono::system_clock::now();
        if (auto report = std::exchange(o->on_report, nullptr))
            report(*o);
        // A follow-up (the check after an update) keeps what its batch did.
        if (o->kind != job_kind_verify)
            o->changed =
                o->result == job_succeeded && !o->found.unchanged && !dry_run && job_changes_unit(o->kind);
    }
    if (at_work_ > 0)
        --at_work_;
    start_waiting();
}

int batch_context::select_failed()
{
    int n = 0;
    manager.group().for_each_unit([&](CHubDevice& unit) {
        const batch_outcome* o = outcome_of(unit);
        if (o && o->result != job_succeeded) {
            ++n;
            return;
        }
        unit.selected = 0;
        for (const auto& tap : unit.taps)
            tap->selected = 0;
    });
    return n;
}

void batch_context::drop_waiting(const std::string& reason)
{
    for (const waiting_job& w : waiting_) {
        CHubDevice& unit = *w.unit;
        unit.job_reason = reason;
        unit.job_result = job_failed;
        unit.job_done = 1;
        manager.busy().erase(&unit);
        if (batch_outcome* o = outcome_of(unit)) {
            o->result = job_failed;
            o->reason = reason;
            o->cancelled = true;
            o->started = o->ended = std::chrono::system_clock::now();
        }
        any_failed_ = true;
    }
    waiting_.clear();
}

void finish_job(CHubDevice& unit, const connection_env& env, bool ok, std::string reason)
{
    if (!ok) {
        std::lock_guard<std::mutex> g(unit.login.hub_lock);
        unit.job_cancelled = unit.login.cancel_requested;
    }
    unit.job_reason = std::move(reason);
    unit.job_result = ok ? job_succeeded : job_failed;
    unit.job_done = 1;
    env.bridge->send({WM_UNIT_JOB_DONE, 0, reinterpret_cast<std::intptr_t>(&unit)});
}

} // namespace talvor
