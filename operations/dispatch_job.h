#pragma once
// Queueing one job on a unit's worker, with the unit in busy_units until
// the job reports.
#include <functional>

#include "inventory/hub_device.h"
#include "operations/busy_units.h"

namespace talvor {

enum class dispatch_form {
    guarded,   // a unit whose worker still has work takes no part
    unguarded, // the job runs after the worker's earlier work
};

// UI thread. `extra` (guarded form only; may be empty) is the operation's
// own condition; when it fails the unit takes no part. Returns true when
// the job was queued.
bool dispatch_job(busy_units& busy, int kind, CHubDevice& unit, std::function<void()> job,
                  dispatch_form form = dispatch_form::guarded,
                  const std::function<bool(const CHubDevice&)>& extra = {});
// dispatch_job without the queueing: the unit joins busy_units with its job
// state set, and the caller posts the job when its turn comes.
bool admit_job(busy_units& busy, int kind, CHubDevice& unit, dispatch_form form = dispatch_form::guarded,
               const std::function<bool(const CHubDevice&)>& extra = {});

} // namespace talvor
