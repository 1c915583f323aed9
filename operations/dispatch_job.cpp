#include "operations/dispatch_job.h"

namespace talvor {

bool admit_job(busy_units& busy, int kind, CHubDevice& unit, dispatch_form form,
               const std::function<bool(const CHubDevice&)>& extra)
{
    busy.insert(&unit);
    if (form == dispatch_form::guarded && (unit.worker->pending() != 0 || (extra && !extra(unit)))) {
        busy.erase(&unit);
        return false;
    }
    unit.set_job_state(kind, job_running, 0);
    return true;
}

bool dispatch_job(busy_units& busy, int kind, CHubDevice& unit, std::function<void()> job, dispatch_form form,
                  const std::function<bool(const CHubDevice&)>& extra)
{
    if (!admit_job(busy, kind, unit, form, extra))
        return false;
    unit.worker->post(std::move(job));
    return true;
}

} // namespace talvor
