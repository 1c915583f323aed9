#pragma once
// The refresh job (job kind 1): connect, log in, read the unit into its
// record and report to the window.
#include "inventory/connection_worker.h"
#include "inventory/hub_device.h"

namespace talvor {

inline constexpr int job_kind_refresh = 1;

// The job body; runs on the unit's worker. Sets job_result and job_done,
// then sends WM_UNIT_JOB_DONE.
void refresh_job(CHubDevice& unit, const connection_env& env);

} // namespace talvor
