#include "operations/unit_manager.h"

#include "inventory/discovery_window.h"
#include "inventory/ensure_login.h"
#include "inventory/refresh_job.h"
#include "operations/dispatch_job.h"

namespace talvor {

unit_manager::unit_manager(window_bridge& bridge, dialogs& ui, AppSettings& settings, unit_listener* listener)
    : bridge_(bridge), ui_(ui), settings_(settings), listener_(listener), group_(std::make_unique<unit_group>()),
      window_worker_(std::make_unique<job_thread>())
{
    env_.bridge = &bridge_;
    env_.settings = &settings_;
    bridge_.set_target(this);
}

unit_manager::~unit_manager()
{
    shut_down();
    window_worker_.reset();
    group_.reset();
    bridge_.set_target(nullptr);
}

bool unit_manager::discover()
{
    if (shutting_down_ || settings_.discover_flags.load() == 0)
        return false;
    if (window_worker_->pending() != 0)
        return false;
    auto run = std::make_shared<do_discover>(bridge_);
    run->open_sockets();
    {
        std::lock_guard<std::mutex> g(discovery_lock_);
        discovery_ = run;
    }
    window_worker_->post([this, run]() mutable {
        run->run_discovery();
        bridge_.send({WM_DISCOVERY_DONE, 0, 0});
        {
            std::lock_guard<std::mutex> g(discovery_lock_);
            if (discovery_ == run)
                discovery_.reset();
        }
        run.reset(); // closes the sockets
    });
    return true;
}

bool unit_manager::queue_refresh(CHubDevice& unit, bool new_session)
{
    if (shutting_down_)
        return false;
    const connection_env env = env_;
    CHubDevice* target = &unit;
    const bool queued = dispatch_job(busy_, job_kind_refresh, unit, [target, env, new_session] {
        // Closing hundreds of sessions was most of the window's share of a
        // Reload All: each unit closes its own.
        if (new_session)
            discard_hub(*target);
        refresh_job(*target, env);
    });
    if (queued && listener_)
        listener_->refresh_queued(unit);
    return queued;
}

bool unit_manager::refresh_all()
{
    if (shutting_down_ || !busy_.empty())
        return false;
    for (const auto& unit : group_->units()) {
        if (unit->worker->pending() != 0)
            continue;
        unit->taps.clear();
        unit->selected = 0;
        unit->tree_item = no_tree_node;
    }
    if (group_->count_selected() == 0)
        group_->selected_class = class_unknown;
    for (const auto& unit : group_->units()) {
        // A unit still busy keeps its session: its job is using it.
        if (unit->worker->pending() != 0)
            continue;
        lift_cancel(*unit);
        queue_refresh(*unit, true);
    }
    return true;
}

void unit_manager::reset_security_answer()
{
    group_->prompt.security_answer.store(-1);
    forget_cancelled_prompt(*group_);
}

bool unit_manager::can_remove(const CHubDevice& unit) const
{
    return !shutting_down_ && busy_.empty() && unit.worker->pending() == 0;
}

bool unit_manager::remove_listed(CHubDevice& unit)
{
    if (!can_remove(unit))
        return false;
    // The record goes with its session; a later Add of the address starts afresh.
    group_->remove_unit(&unit);
    return true;
}

void unit_manager::shut_down()
{
    if (shutting_down_)
        return;
    shutting_down_ = true;
    bridge_.shut_down();
    {
        std::lock_guard<std::mutex> g(discovery_lock_);
        if (discovery_)
            discovery_->stop();
    }
    window_worker_->wait_idle();
    // Cancel all first, so the units' network waits end together; then join.
    for (const auto& unit : group_->units())
        cancel_unit(*unit);
    for (const auto& unit : group_->units())
        unit->worker.reset();
    busy_.clear();
}

} // namespace talvor
