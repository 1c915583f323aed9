#pragma once
// The job body most commands share, on the unit's worker: log in, run one
// hub operation, log out after its success when the command wants that,
// and report.
#include <functional>
#include <string>

#include "inventory/connection_worker.h"
#include "inventory/hub_device.h"

namespace talvor {

enum class logout_rule { after_success, never };

// `what` names the operation in the failure reason. The operation runs only
// after a successful login and returns an HTTP-style status.
void run_simple_job(CHubDevice& unit, const connection_env& env, const std::string& what,
                    const std::function<int(zt_hub&)>& operation, logout_rule logout);

// "login failed: unreachable" and the like, from the unit's login state.
std::string login_failure_reason(const CHubDevice& unit);
// "reboot answered 404", "reboot failed (-975)".
std::string operation_failure_reason(const std::string& what, int status);

} // namespace talvor
