// A dry run's job: what a command would do to one unit, found by logging
// in and reading.
#include "inventory/ensure_login.h"
#include "operations/batch.h"
#include "operations/simple_job.h"

namespace talvor {

void run_dry_job(CHubDevice& unit, const connection_env& env, const dry_planner& planner, job_findings& findings)
{
    if (ensure_login(unit, env) != 200)
        return finish_job(unit, env, false, login_failure_reason(unit));
    const std::string failure = planner(unit, *unit.hub, findings);
    unit.hub->logout();
    if (!failure.empty())
        return finish_job(unit, env, false, failure);
    finish_job(unit, env, true, findings.plan);
}

} // namespace talvor
