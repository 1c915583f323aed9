#include "inventory/refresh_job.h"

#include "inventory/ensure_login.h"
#include "inventory/unit_info.h"

namespace talvor {

void refresh_job(CHubDevice& unit, const connection_env& env)
{
    if (unit.hub)
        unit.hub->clear_flags();
    bool ok = ensure_login(unit, env) == 200;
    if (ok && read_unit_information(unit) != 0) {
        unit.login.failure.store(unit_failure::read_failed);
        ok = false;
    }
    unit.job_result.store(ok ? job_succeeded : job_failed);
    unit.job_done.store(1);
    env.bridge->send({WM_UNIT_JOB_DONE, 0, reinterpret_cast<std::intptr_t>(&unit)});
}

} // namespace talvor
