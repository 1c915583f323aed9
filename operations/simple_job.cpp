#include "operations/simple_job.h"

#include "inventory/ensure_login.h"
#include "operations/batch.h"

namespace talvor {

std::string login_failure_reason(const CHubDevice& unit)
{
    return std::string("login failed: ") + failure_text(unit.login.failure.load());
}

std::string operation_failure_reason(const std::string& what, int status)
{
    if (status < 0)
        return what + " failed (" + std::to_string(status) + ")";
    return what + " answered " + std::to_string(status);
}

void run_simple_job(CHubDevice& unit, const connection_env& env, const std::string& what,
                    const std::function<int(zt_hub&)>& operation, logout_rule logout)
{
    if (ensure_login(unit, env) != 200)
        return finish_job(unit, env, false, login_failure_reason(unit));
    const int status = operation(*unit.hub);
    if (status != 200)
        return finish_job(unit, env, false, operation_failure_reason(what, status));
    if (logout == logout_rule::after_success)
        unit.hub->logout();
    finish_job(unit, env, true);
}

} // namespace talvor
